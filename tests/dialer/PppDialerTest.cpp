// The real line: its own calls through a stand-in pppd, the real pppd and chat against the modem
// emulator, and other programs' calls. A whole real call is the VM's (tests/vm/ppp-inside.sh).

#include "ModemLine.h"
#include "TestApp.h"

#include "modem/DiallingProcess.h"
#include "modem/Pidfd.h"
#include "dialer/PppCallFiles.h"
#include "dialer/PppDialer.h"

#include <QDir>

namespace {

// pppd cannot bring a link up here: a stand-in prints "lines" as pppd would, stops at "--wait--" until
// a file "go" appears, then waits to be ended (or for its folder to go), with helpers below it as the
// real pppd has its chat. No name makes it a dialler: the watch knows programs by their files.
const QByteArray StandInPppd = R"(#!/bin/bash
here=$(dirname "$0")
trap 'printf "Terminating on signal 15\nConnection terminated.\n"; exit 5' TERM
sleep 600 &
while IFS= read -r line; do
    if [ "$line" != --wait-- ]; then printf '%s\n' "$line"; continue; fi
    while [ ! -e "$here/go" ] && [ -e "$here/lines" ]; do sleep 0.05; done
    sleep 600 &
done < "$here/lines"
while [ -e "$here/lines" ]; do sleep 1 & wait $!; done
kill %1
)";

// The recorded connected call up to its DNS lines, with "--wait--" after the line given.
QByteArray connectedLines(const QByteArray& waitAfter = {}) {
    QByteArray lines = readBytes(NORVALE_PPP_TRANSCRIPTS "/connected-pap.log");
    lines.truncate(lines.indexOf("Modem hangup"));
    if (!waitAfter.isEmpty())
        lines.replace(waitAfter + '\n', waitAfter + "\n--wait--\n");
    return lines;
}

// The real chat under a file and a name of its own: a dialler only for the component told that it is
// its chat, and for no other guard that may run on the machine.
QString chatCopy(const QTemporaryDir& dir) {
    const QString copy = dir.filePath("dialler-chat");
    if (!QFileInfo::exists(copy)) {
        EXPECT_TRUE(QFile::copy(chatProgram(), copy));
    }
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    return copy;
}

// A phonebook with one entry, the stand-in as pppd, a copy of chat and a run folder, all in dir.
DialerSettings standInSettings(const QTemporaryDir& dir, const QByteArray& lines) {
    const DialerSettings settings{.backend = DialerSettings::Backend::Ppp,
                                  .phonebook = dir.filePath("wvdial.conf"),
                                  .pppd = dir.filePath("pppd"),
                                  .chat = chatCopy(dir),
                                  .runFolder = dir.filePath("run")};
    writeBytes(settings.phonebook,
               "[Dialer Casa]\nModem = /dev/ttyS9\nPhone = 0190123456\nPassword = segreto\n");
    writeBytes(settings.pppd, StandInPppd);
    writeBytes(dir.filePath("lines"), lines);
    QFile::setPermissions(settings.pppd, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return settings;
}

} // namespace

// A component goes while its call dials (the guard's shut-down): pppd goes on with its files in a
// private call folder, and the next component takes the call over as its own. A call that is up when
// the guard restarts is the systemd VM test's.
TEST(PppOwnCall, OutlivesTheComponentAndTheNextOneAdoptsIt) {
    QTemporaryDir dir;
    const QByteArray lines = connectedLines("send (ATDT0190123456^M)");
    const DialerSettings settings = standInSettings(dir, lines);
    auto first = std::make_unique<PppDialer>(settings);
    Told firstTold(*first);
    first->SetWatchOtherCalls(true);
    ASSERT_EQ(first->SelectEntry("Casa"), 0);
    first->Dial();
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstTold.contains("2"); }, 15000));

    const PppCallFiles files(PppCallFiles::callFolders(settings.runFolder).value(0));
    QStringList modes{QString::number(modeOf(files.folder()), 8)};
    for (const QString& name : QDir(files.folder()).entryList(QDir::Files))
        modes << name + ' ' + QString::number(modeOf(files.folder() + '/' + name), 8);
    EXPECT_EQ(modes.join(", "), "700, call 600, chat 600, options 600, pppd.log 600");
    EXPECT_TRUE(QTest::qWaitFor([&] { return readBytes(files.logPath()) == lines.left(lines.indexOf("--wait--")); },
                                15000));
    Pidfd pppd(files.readRecord().value_or(PppCallFiles::Record{}).pid);
    first.reset();
    EXPECT_FALSE(pppd.hasExited());

    PppDialer second(settings);
    Told told(second);
    second.SetWatchOtherCalls(true);
    EXPECT_EQ(second.EntryName(), "Casa");
    EXPECT_FALSE(second.IsOnline());
    writeBytes(dir.filePath("go"), {});
    ASSERT_TRUE(told.waitFor(5));
    EXPECT_EQ(told, (QStringList{"3", "5", "14", "8192", "connect"}));
    EXPECT_TRUE(second.IsOnline());
    EXPECT_EQ(second.IpAddress(), "10.64.64.64");
    told.clear();
    second.HangUp();
    ASSERT_TRUE(told.waitFor(2));
    QTest::qWait(100);
    EXPECT_EQ(told, (QStringList{"8193", "disconnect"}));
    EXPECT_FALSE(second.IsOnline());
    EXPECT_TRUE(pppd.hasExited());
    EXPECT_FALSE(QFileInfo::exists(files.folder()));
}

TEST(PppOwnCall, AFolderWhosePppdIsGoneIsRemovedNotAdopted) {
    QTemporaryDir dir;
    const DialerSettings settings = standInSettings(dir, connectedLines());
    QProcess gone;
    gone.start("/bin/true");
    ASSERT_TRUE(gone.waitForFinished(5000));
    // Runs with the options of the folder "call-reused", but is not the process its record names; and
    // it is the process "call-other" names, but runs with no options of that call.
    QProcess live;
    live.start("/bin/bash", {"-c", "read", "pppd", "file", settings.runFolder + "/call-reused/options"});
    ASSERT_TRUE(live.waitForStarted(5000));
    const qint64 pid = live.processId();
    const quint64 since = PppCallFiles::startTimeOf(pid_t(pid)).value_or(0);
    const struct {
        const char* folder;
        QByteArray record;
    } rows[] = {
        {"call-gone", QString("pid=%1\nstart=1\n").arg(gone.processId()).toUtf8()},
        {"call-reused", QString("pid=%1\nstart=%2\n").arg(pid).arg(since + 1).toUtf8()},
        {"call-other", QString("pid=%1\nstart=%2\n").arg(pid).arg(since).toUtf8()},
        {"call-garbage", "pid=x\nstart=\n"},
        {"call-unrecorded", {}},
    };
    for (const auto& row : rows) {
        const QString folder = settings.runFolder + '/' + row.folder;
        ASSERT_TRUE(QDir().mkpath(folder));
        writeBytes(folder + "/pppd.log", connectedLines());
        if (!row.record.isEmpty())
            writeBytes(folder + "/call", row.record + "entry=Casa\n");
    }
    writeBytes(settings.runFolder + "/guard.lock", {});
    PppDialer dialer(settings);
    Told told(dialer);
    QCoreApplication::processEvents();
    EXPECT_EQ(QDir(settings.runFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"guard.lock"});
    EXPECT_EQ(dialer.EntryName(), "");
    EXPECT_EQ(told, QStringList{});
    live.kill();
    live.waitForFinished(5000);
}

// The real pppd and chat against the emulator. Before them: chat reads a send string that starts
// with "@" from the file it names, as root, so an Init2 of "@/etc/shadow" would send that file to the
// modem. Refused before the call's folder is made.
TEST(PppRealLine, DialThroughPppdReportsWhyTheLineCannotComeUpAndAnInitThatNamesAFileIsRefused) {
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const DialerSettings settings{.backend = DialerSettings::Backend::Ppp,
                                  .phonebook = dir.filePath("wvdial.conf"),
                                  .runFolder = dir.filePath("run")};
    writeBytes(settings.phonebook, "[Dialer Defaults]\nModem = " + line.device().toUtf8() +
                                       "\nBaud = 57600\nPhone = 0190123456\n[Dialer Casa]\nUsername = mario\n"
                                       "Password = segreto\n[Dialer File]\nInit2 = @/etc/shadow\n");
    PppDialer dialer(settings);
    Told told(dialer);
    EXPECT_EQ(dialer.SelectEntry("Nessuna"), 623);
    ASSERT_EQ(dialer.SelectEntry("File"), 0);
    dialer.Dial();
    EXPECT_EQ(told, QStringList{"error 623"});
    EXPECT_FALSE(QFileInfo::exists(settings.runFolder));
    EXPECT_EQ(dialer.CallNumber(), "");

    if (QFileInfo::exists("/dev/ppp"))
        GTEST_SKIP() << "this machine has /dev/ppp: pppd would go on to negotiate with the emulator";
    told.clear();
    ASSERT_EQ(dialer.SelectEntry("Casa"), 0);
    dialer.Dial();
    ASSERT_TRUE(told.waitFor(4));
    EXPECT_EQ(told, (QStringList{"0", "1", "2", "error 633"}));
    EXPECT_EQ(told.texts.value(1),
              "The modem (or other connecting device) is already in use or is not configured properly.");
    EXPECT_EQ(PppCallFiles::callFolders(settings.runFolder), QStringList{}); // the password file went
}

// The process-event connector is what the installed guard uses (tests/e2e/evasion.sh); here the
// scan of /proc that stands in for it without CAP_NET_ADMIN.
TEST(OtherProgramsCall, IsReportedWithItsEntryAndHangUpEndsItAndWhatItStarted) {
    // The far end takes its time to answer: the call must be gone before CONNECT.
    ModemLine line({"--delay", "5000"});
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString script = dir.filePath("script");
    writeBytes(script, "ABORT BUSY\n'' ATZ\nOK ATDT0899123456\nCONNECT ''\n");
    PppDialer dialer(DialerSettings{.phonebook = {}, .chat = chatCopy(dir), .runFolder = dir.filePath("run")});
    dialer.SetUseProcessEvents(false);
    dialer.SetWatchOtherCalls(true);
    Told told(dialer);
    QString entryAtTwo;
    QList<pid_t> started;
    QProcess other;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) {
        if (s == 2) {
            entryAtTwo = dialer.EntryName();
            started = DiallingProcess::descendantsOf({static_cast<pid_t>(other.processId())});
            dialer.HangUp();
        }
    });

    // A shell that leaves a helper behind and becomes chat.
    other.setStandardInputFile(line.device());
    other.setStandardOutputFile(line.device(), QIODevice::Append);
    other.start("/bin/sh", {"-c", "sleep 60 & exec '" + chatCopy(dir) + "' -s -v -f '" + script + "'"});
    ASSERT_TRUE(other.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(entryAtTwo, "chat " + line.ptyPath());
    ASSERT_EQ(started.size(), 1) << "the helper the shell left behind";
    Pidfd helper(started.at(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return helper.hasExited(); }, 15000));
    EXPECT_FALSE(line.received().contains("CONNECT"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialer.EntryName().isEmpty(); }, 15000));
    EXPECT_EQ(told, (QStringList{"2", "disconnect"}));
}
