// The real line against the modem emulator: the real chat and pppd, and other programs' calls.

#include "ModemLine.h"
#include "TestApp.h"

#include "platform/dialer/DiallingProcess.h"
#include "platform/dialer/Pidfd.h"
#include "platform/dialer/PppCallFiles.h"
#include "platform/dialer/PppDialer.h"
#include "platform/dialer/PppLineParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ChatRun {
    QList<int> states;
    QList<int> errors;
    int exitCode = -1;
};

PhonebookEntry entryOn(const ModemLine& line) {
    PhonebookEntry e;
    e.name = QStringLiteral("Casa");
    e.number = QStringLiteral("0190123456");
    e.modem = line.device();
    e.inits = {QStringLiteral("ATZ"), QStringLiteral("ATQ0 V1 E1 S0=0 &C1 &D2")};
    e.dialCommand = QStringLiteral("ATDT");
    return e;
}

// Runs the connect command exactly as pppd runs it: through /bin/sh, the modem on stdin and
// stdout, chat's report read line by line as it comes. pppd ends with 8 when it fails.
ChatRun runConnectScript(const ModemLine& line, const PhonebookEntry& entry) {
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
    QObject::connect(&chat, &QProcess::readyReadStandardError, [&] {
        chat.setReadChannel(QProcess::StandardError);
        while (chat.canReadLine())
            take(parser.feed(QString::fromLocal8Bit(chat.readLine())));
    });
    take(parser.started());
    chat.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), files.connectCommand()});
    EXPECT_TRUE(chat.waitForStarted(5000));
    EXPECT_TRUE(waitUntil([&] { return chat.state() == QProcess::NotRunning; }, 30000));
    chat.setReadChannel(QProcess::StandardError);
    take(parser.feed(QString::fromLocal8Bit(chat.readAll())));
    run.exitCode = chat.exitCode();
    if (run.exitCode != 0)
        take(parser.finished(8, false, false));
    return run;
}

class PppRealLine : public ::testing::Test {
protected:
    TestApp app;
};

} // namespace

TEST_F(PppRealLine, ChatScriptReachesConnectAndDialsTheEntrysNumber) {
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    const ChatRun run = runConnectScript(line, entryOn(line));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.states, (QList<int>{0, 1, 2, 3}));
    EXPECT_TRUE(run.errors.isEmpty());
    EXPECT_EQ(line.received(), (QStringList{"ATZ", "ATQ0 V1 E1 S0=0 &C1 &D2", "ATDT0190123456"}));
}

TEST_F(PppRealLine, ModemRefusalsBecomeTheirErrorCodes) {
    const struct {
        const char* reply;
        int error;
    } cases[] = {
        {"busy", 676}, {"no-carrier", 679}, {"no-dialtone", 680}, {"no-answer", 678}, {"error", 692}};
    for (const auto& c : cases) {
        ModemLine line({QStringLiteral("--dial"), QString::fromLatin1(c.reply)});
        ASSERT_TRUE(line.isReady());
        const ChatRun run = runConnectScript(line, entryOn(line));
        EXPECT_NE(run.exitCode, 0) << c.reply;
        EXPECT_EQ(run.states, (QList<int>{0, 1, 2})) << c.reply;
        EXPECT_EQ(run.errors, QList<int>{c.error}) << c.reply;
        EXPECT_EQ(line.received().value(2), QStringLiteral("ATDT0190123456")) << c.reply;
    }
}

TEST_F(PppRealLine, SilentModemIsAHardwareFailure) {
    ModemLine line({QStringLiteral("--init"), QStringLiteral("silent")});
    ASSERT_TRUE(line.isReady());
    const ChatRun run = runConnectScript(line, entryOn(line));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.states, QList<int>{0});
    EXPECT_EQ(run.errors, QList<int>{692});
    EXPECT_EQ(line.received(), QStringList{"ATZ"});
}

TEST_F(PppRealLine, DialThroughPppdReportsWhyTheLineCannotComeUp) {
    if (QFileInfo::exists(QStringLiteral("/dev/ppp")))
        GTEST_SKIP() << "this machine has /dev/ppp: pppd would go on to negotiate with the emulator";
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString phonebook = dir.filePath(QStringLiteral("wvdial.conf"));
    {
        QFile f(phonebook);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "[Dialer Defaults]\nModem = " + line.device().toUtf8() +
            "\nBaud = 57600\n\n[Dialer Casa]\nPhone = 0190123456\nUsername = mario\nPassword = segreto\n");
    }
    DialerSettings settings;
    settings.backend = DialerSettings::Backend::Ppp;
    settings.phonebook = phonebook;
    PppDialer dialer(settings);
    QList<int> states;
    QList<std::pair<int, QString>> errors;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) { states << s; });
    QObject::connect(&dialer, &DialerControl::LastError, [&](int code, const QString& text, int) {
        errors.append({code, text});
    });

    dialer.Dial();
    EXPECT_EQ(errors.value(0).first, 623) << "nothing selected yet";
    errors.clear();
    EXPECT_EQ(dialer.SelectEntry(QStringLiteral("Nessuna")), 623);
    ASSERT_EQ(dialer.SelectEntry(QStringLiteral("Casa")), 0);
    EXPECT_EQ(dialer.EntryNumber(), QStringLiteral("0190123456"));
    EXPECT_EQ(dialer.EntryUser(), QStringLiteral("mario"));

    const QStringList before = QDir::temp().entryList({QStringLiteral("norvale-ppp-*")}, QDir::Dirs);
    dialer.Dial();
    EXPECT_EQ(dialer.EntryName(), QStringLiteral("Casa"));
    ASSERT_TRUE(waitUntil([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(states, QList<int>{0});
    EXPECT_EQ(errors.value(0).first, 633);
    EXPECT_EQ(errors.value(0).second,
              QStringLiteral(
                  "The modem (or other connecting device) is already in use or is not configured properly."));
    EXPECT_FALSE(dialer.IsOnline());
    EXPECT_EQ(dialer.IpAddress(), QString());
    EXPECT_EQ(QDir::temp().entryList({QStringLiteral("norvale-ppp-*")}, QDir::Dirs), before);
}

class OtherProgramsCall : public ::testing::TestWithParam<bool> {
protected:
    TestApp app;
};

TEST_P(OtherProgramsCall, IsReportedWithItsEntryAndHangUpEndsItAndWhatItStarted) {
    const bool useConnector = GetParam();
    // The far end takes its time to answer: the call must be gone before CONNECT.
    ModemLine line({QStringLiteral("--delay"), QStringLiteral("5000")});
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("script"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("ABORT BUSY\n'' ATZ\nOK ATDT0899123456\nCONNECT ''\n");
    }

    DialerSettings settings;
    settings.backend = DialerSettings::Backend::Ppp;
    PppDialer dialer(settings);
    dialer.SetUseProcessEvents(useConnector);
    dialer.SetReportEveryStage(true);
    dialer.SetWatchInterval(100);
    dialer.SetWatchOtherCalls(true);
    if (useConnector && !dialer.UsesProcessEvents())
        GTEST_SKIP() << "the process-event connector needs CAP_NET_ADMIN";
    EXPECT_EQ(dialer.UsesProcessEvents(), useConnector);

    QList<int> states;
    QString entryAtTwo;
    QList<pid_t> started;
    int errors = 0;
    int connects = 0;
    int disconnects = 0;
    QProcess other;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) {
        states << s;
        if (s == 2) {
            entryAtTwo = dialer.EntryName();
            started = DiallingProcess::descendantsOf({static_cast<pid_t>(other.processId())});
            dialer.HangUp();
        }
    });
    QObject::connect(&dialer, &DialerControl::LastError, [&] { ++errors; });
    QObject::connect(&dialer, &DialerControl::Connect, [&] { ++connects; });
    QObject::connect(&dialer, &DialerControl::Disconnect, [&] { ++disconnects; });

    // Another program: a shell that leaves a helper behind and becomes chat.
    other.setStandardInputFile(line.device());
    other.setStandardOutputFile(line.device(), QIODevice::Append);
    other.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("sleep 60 & exec '%1' -s -v -f '%2'").arg(chatProgram(), script)});
    ASSERT_TRUE(other.waitForStarted(5000));
    const auto chatPid = static_cast<pid_t>(other.processId());

    ASSERT_TRUE(waitUntil([&] { return other.state() == QProcess::NotRunning; }));
    // chat turns SIGTERM into exit code 2.
    EXPECT_TRUE(other.exitStatus() == QProcess::CrashExit || other.exitCode() == 2) << other.exitCode();
    EXPECT_EQ(states, QList<int>{2});
    EXPECT_EQ(entryAtTwo, QStringLiteral("chat ") + line.ptyPath());
    ASSERT_EQ(started.size(), 1) << "the helper the shell left behind";
    Pidfd helper(started.at(0));
    EXPECT_TRUE(waitUntil([&] { return helper.hasExited(); }));
    EXPECT_FALSE(line.received().contains(QStringLiteral("CONNECT")));

    // The call is over: no error, no connection, and the selected entry is back.
    EXPECT_TRUE(waitUntil([&] { return dialer.EntryName().isEmpty(); }));
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(connects, 0);
    EXPECT_EQ(disconnects, 0);
    EXPECT_FALSE(dialer.IsOnline());
    EXPECT_TRUE(Pidfd(chatPid).hasExited());
}

TEST_P(OtherProgramsCall, IsIgnoredWhenNotWatched) {
    ModemLine line({QStringLiteral("--init"), QStringLiteral("silent")});
    ASSERT_TRUE(line.isReady());
    DialerSettings settings;
    PppDialer dialer(settings);
    dialer.SetUseProcessEvents(GetParam());
    dialer.SetWatchOtherCalls(true);
    dialer.SetWatchOtherCalls(false);
    QList<int> states;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) { states << s; });

    QProcess other;
    other.setStandardInputFile(line.device());
    other.setStandardOutputFile(line.device(), QIODevice::Append);
    other.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("exec '%1' -t 1 '' ATZ OK").arg(chatProgram())});
    ASSERT_TRUE(other.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return line.received() == QStringList{"ATZ"}; }));
    ASSERT_TRUE(waitUntil([&] { return other.state() == QProcess::NotRunning; }));
    EXPECT_EQ(other.exitCode(), 3) << "chat timed out on its own";
    EXPECT_TRUE(states.isEmpty());
}

TEST_P(OtherProgramsCall, IsSeenButNotReportedWhenStagesAreNot) {
    ModemLine line({QStringLiteral("--init"), QStringLiteral("silent")});
    ASSERT_TRUE(line.isReady());
    DialerSettings settings;
    PppDialer dialer(settings);
    dialer.SetUseProcessEvents(GetParam());
    dialer.SetReportEveryStage(false);
    dialer.SetWatchOtherCalls(true);
    QList<int> states;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) { states << s; });

    QProcess other;
    other.setStandardInputFile(line.device());
    other.setStandardOutputFile(line.device(), QIODevice::Append);
    other.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("exec '%1' -t 2 '' ATZ OK").arg(chatProgram())});
    ASSERT_TRUE(other.waitForStarted(5000));
    EXPECT_TRUE(waitUntil([&] { return dialer.EntryName() == QStringLiteral("chat ") + line.ptyPath(); }));
    ASSERT_TRUE(waitUntil([&] { return other.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(waitUntil([&] { return dialer.EntryName().isEmpty(); }));
    EXPECT_TRUE(states.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Watch, OtherProgramsCall, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Connector") : std::string("ProcScan");
                         });
