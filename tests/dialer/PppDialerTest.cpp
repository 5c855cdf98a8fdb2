// The real line against the modem emulator: the real chat and pppd, and other programs' calls.

#include "ModemLine.h"
#include "TestApp.h"

#include "dialer/DiallingProcess.h"
#include "dialer/Pidfd.h"
#include "dialer/PppCallFiles.h"
#include "dialer/PppDialer.h"
#include "dialer/PppLineParser.h"

#include <QDir>

namespace {

struct ChatRun {
    QList<int> states, errors;
    int exitCode = -1;
};

// Runs the connect command as pppd runs it: through /bin/sh, the modem on stdin and stdout,
// chat's report read line by line as it comes. pppd ends with 8 when it fails.
ChatRun runConnectScript(const ModemLine& line) {
    const PhonebookEntry entry{
        "Casa", "0190123456", {}, {}, line.device(), 57600, {"ATZ", "ATQ0 V1 E1 S0=0 &C1 &D2"}, "ATDT"};
    PppCallFiles files(entry, chatProgram());
    EXPECT_TRUE(files.isValid());
    PppLineParser parser(entry.dialCommand);
    ChatRun run;
    const auto take = [&run](const QList<PppLineParser::Event>& events) {
        for (const auto& e : events) {
            if (e.kind == PppLineParser::Event::Kind::State)
                run.states << e.value;
            else if (e.kind == PppLineParser::Event::Kind::Error)
                run.errors << e.value;
        }
    };
    QProcess chat;
    chat.setStandardInputFile(line.device());
    chat.setStandardOutputFile(line.device(), QIODevice::Append);
    chat.setReadChannel(QProcess::StandardError);
    QObject::connect(&chat, &QProcess::readyReadStandardError, [&] {
        while (chat.canReadLine())
            take(parser.feed(QString::fromLocal8Bit(chat.readLine())));
    });
    take(parser.started());
    chat.start("/bin/sh", {"-c", files.connectCommand()});
    EXPECT_TRUE(QTest::qWaitFor([&] { return chat.state() == QProcess::NotRunning; }, 30000));
    take(parser.feed(QString::fromLocal8Bit(chat.readAll())));
    run.exitCode = chat.exitCode();
    if (run.exitCode != 0)
        take(parser.finished(8, false, false));
    return run;
}

// Another program's call on the line: a shell running chat with the arguments given.
void startOtherCall(QProcess& other, const ModemLine& line, const QString& command) {
    other.setStandardInputFile(line.device());
    other.setStandardOutputFile(line.device(), QIODevice::Append);
    other.start("/bin/sh", {"-c", command.arg(chatProgram())});
    ASSERT_TRUE(other.waitForStarted(5000));
}

} // namespace

TEST(PppRealLine, ChatReportsTheModemsAnswersAsStagesAndErrorCodes) {
    const QStringList dialled{"ATZ", "ATQ0 V1 E1 S0=0 &C1 &D2", "ATDT0190123456"};
    // chat's exit code is 4 plus the place of the ABORT string met, 3 on a time-out.
    const struct {
        QStringList emulator;
        int exitCode;
        QList<int> states, errors;
        QStringList received;
    } rows[] = {
        {{}, 0, {0, 1, 2, 3}, {}, dialled},
        {{"--dial", "busy"}, 4, {0, 1, 2}, {676}, dialled},
        {{"--dial", "no-carrier"}, 5, {0, 1, 2}, {679}, dialled},
        {{"--dial", "no-dialtone"}, 6, {0, 1, 2}, {680}, dialled},
        {{"--dial", "no-answer"}, 8, {0, 1, 2}, {678}, dialled},
        {{"--dial", "error"}, 9, {0, 1, 2}, {692}, dialled},
        {{"--init", "silent"}, 3, {0}, {692}, {"ATZ"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.emulator.join(' ').toStdString());
        ModemLine line(row.emulator);
        ASSERT_TRUE(line.isReady());
        const ChatRun run = runConnectScript(line);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.states, row.states);
        EXPECT_EQ(run.errors, row.errors);
        EXPECT_EQ(line.received(), row.received);
    }
}

TEST(PppRealLine, DialThroughPppdReportsWhyTheLineCannotComeUp) {
    if (QFileInfo::exists("/dev/ppp"))
        GTEST_SKIP() << "this machine has /dev/ppp: pppd would go on to negotiate with the emulator";
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    DialerSettings settings;
    settings.backend = DialerSettings::Backend::Ppp;
    settings.phonebook = dir.filePath("wvdial.conf");
    writeBytes(settings.phonebook,
              "[Dialer Defaults]\nModem = " + line.device().toUtf8() +
                  "\nBaud = 57600\n\n[Dialer Casa]\nPhone = 0190123456\nUsername = mario\n"
                  "Password = segreto\n");
    PppDialer dialer(settings);
    QList<int> states;
    QStringList errors;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) { states << s; });
    QObject::connect(&dialer, &DialerControl::LastError, [&](int code, const QString& text, int) {
        errors << QString::number(code) + ' ' + text;
    });

    dialer.Dial();
    EXPECT_EQ(errors.value(0).left(3), "623") << "nothing selected yet";
    errors.clear();
    EXPECT_EQ(dialer.SelectEntry("Nessuna"), 623);
    ASSERT_EQ(dialer.SelectEntry("Casa"), 0);
    EXPECT_EQ(dialer.EntryNumber(), "0190123456");
    EXPECT_EQ(dialer.EntryUser(), "mario");

    const QStringList before = QDir::temp().entryList({"norvale-ppp-*"}, QDir::Dirs);
    dialer.Dial();
    EXPECT_EQ(dialer.EntryName(), "Casa");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 15000));
    EXPECT_EQ(states, QList<int>{0});
    EXPECT_EQ(errors, QStringList{"633 The modem (or other connecting device) is already in use or is not "
                                  "configured properly."});
    EXPECT_FALSE(dialer.IsOnline());
    EXPECT_EQ(dialer.IpAddress(), "");
    EXPECT_EQ(QDir::temp().entryList({"norvale-ppp-*"}, QDir::Dirs), before); // the password file went
}

class OtherProgramsCall : public ::testing::TestWithParam<bool> {};

TEST_P(OtherProgramsCall, IsReportedWithItsEntryAndHangUpEndsItAndWhatItStarted) {
    // The far end takes its time to answer: the call must be gone before CONNECT.
    ModemLine line({"--delay", "5000"});
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString script = dir.filePath("script");
    writeBytes(script, "ABORT BUSY\n'' ATZ\nOK ATDT0899123456\nCONNECT ''\n");

    PppDialer dialer(DialerSettings{});
    dialer.SetUseProcessEvents(GetParam());
    dialer.SetReportEveryStage(true);
    dialer.SetWatchInterval(100);
    dialer.SetWatchOtherCalls(true);
    if (GetParam() && !dialer.UsesProcessEvents())
        GTEST_SKIP() << "the process-event connector needs CAP_NET_ADMIN";
    EXPECT_EQ(dialer.UsesProcessEvents(), GetParam());

    QList<int> states;
    QString entryAtTwo;
    QList<pid_t> started;
    int others = 0; // errors, connects and disconnects
    QProcess other;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) {
        states << s;
        if (s == 2) {
            entryAtTwo = dialer.EntryName();
            started = DiallingProcess::descendantsOf({static_cast<pid_t>(other.processId())});
            dialer.HangUp();
        }
    });
    QObject::connect(&dialer, &DialerControl::LastError, [&] { ++others; });
    QObject::connect(&dialer, &DialerControl::Connect, [&] { ++others; });
    QObject::connect(&dialer, &DialerControl::Disconnect, [&] { ++others; });

    // A shell that leaves a helper behind and becomes chat.
    startOtherCall(other, line, "sleep 60 & exec '%1' -s -v -f '" + script + "'");
    const auto chatPid = static_cast<pid_t>(other.processId());
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.state() == QProcess::NotRunning; }, 15000));
    // chat turns SIGTERM into exit code 2.
    EXPECT_TRUE(other.exitStatus() == QProcess::CrashExit || other.exitCode() == 2) << other.exitCode();
    EXPECT_EQ(states, QList<int>{2});
    EXPECT_EQ(entryAtTwo, "chat " + line.ptyPath());
    ASSERT_EQ(started.size(), 1) << "the helper the shell left behind";
    Pidfd helper(started.at(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return helper.hasExited(); }, 15000));
    EXPECT_FALSE(line.received().contains("CONNECT"));

    // The call is over: no error, no connection, and the selected entry is back.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialer.EntryName().isEmpty(); }, 15000));
    EXPECT_EQ(others, 0);
    EXPECT_FALSE(dialer.IsOnline());
    EXPECT_TRUE(Pidfd(chatPid).hasExited());
}

TEST_P(OtherProgramsCall, IsNotReportedWhenUnwatchedAndOnlySeenWhenStagesAreOff) {
    for (const bool watch : {false, true}) {
        SCOPED_TRACE(watch ? "stages off" : "unwatched");
        ModemLine line({"--init", "silent"});
        ASSERT_TRUE(line.isReady());
        PppDialer dialer(DialerSettings{});
        dialer.SetUseProcessEvents(GetParam());
        dialer.SetWatchOtherCalls(true);
        dialer.SetWatchOtherCalls(watch);
        dialer.SetReportEveryStage(!watch);
        QList<int> states;
        QObject::connect(&dialer, &DialerControl::Status, [&](int s) { states << s; });

        QProcess other;
        startOtherCall(other, line, "exec '%1' -t 2 '' ATZ OK");
        bool seen = false;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                seen = seen || dialer.EntryName() == "chat " + line.ptyPath();
                return other.state() == QProcess::NotRunning;
            },
            15000));
        EXPECT_EQ(other.exitCode(), 3) << "chat timed out on its own";
        EXPECT_EQ(line.received(), QStringList{"ATZ"});
        EXPECT_EQ(seen, watch);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialer.EntryName().isEmpty(); }, 15000));
        EXPECT_TRUE(states.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Watch, OtherProgramsCall, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Connector" : "ProcScan"; });
