// The real line: its own calls through a stand-in pppd (beside the built-in line's, told alike), the
// real pppd and chat against the modem emulator, and other programs' calls.

#include "ModemLine.h"
#include "TestApp.h"

#include "modem/DiallingProcess.h"
#include "modem/Pidfd.h"
#include "dialer/PppCallFiles.h"
#include "dialer/PppDialer.h"
#include "dialer/SimulatedDialer.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>

#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

// What a component tells of its own call, the same whichever line it drives: the built-in one, or
// the stand-in pppd. Casa dials 0190123456 and connects.
TEST(OwnCall, IsToldStageByStageUntilItsHangUpOnEitherLine) {
    for (const bool ppp : {false, true}) {
        SCOPED_TRACE(ppp ? "ppp" : "built-in");
        QTemporaryDir dir;
        writeBytes(dir.filePath("phonebook.conf"), "[Dialer Casa]\nPhone = 0190123456\n");
        writeBytes(dir.filePath("dialer.conf"), "stage_ms=5\n");
        std::unique_ptr<DialerControl> dialer;
        if (ppp)
            dialer = std::make_unique<PppDialer>(standInSettings(dir, connectedLines()));
        else
            dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(dir.path()), dir.path());
        Told told(*dialer);
        ASSERT_EQ(dialer->SelectEntry("Nessuna"), 623);
        dialer->Dial();
        ASSERT_TRUE(told.waitFor(1));
        EXPECT_EQ(told, QStringList{"error 623"});
        told.clear();
        ASSERT_EQ(dialer->SelectEntry("Casa"), 0);
        EXPECT_EQ(dialer->EntryNumber(), "0190123456");
        dialer->Dial();
        ASSERT_TRUE(told.waitFor(8));
        EXPECT_EQ(told, (QStringList{"0", "1", "2", "3", "5", "14", "8192", "connect"}));
        EXPECT_TRUE(dialer->IsOnline());
        told.clear();
        dialer->HangUp();
        ASSERT_TRUE(told.waitFor(2));
        QTest::qWait(100);
        EXPECT_EQ(told, (QStringList{"8193", "disconnect"}));
        EXPECT_FALSE(dialer->IsOnline());
    }
}

// A component goes during a call (the guard's shut-down): pppd goes on with its files in a private
// call folder, and the next component takes the call over as its own, whether up or still dialling.
TEST(PppOwnCall, OutlivesTheComponentAndTheNextOneAdoptsIt) {
    const struct {
        const char* name;
        QByteArray lines;
        const char* leftAt; // the last stage the first component saw
        QStringList toldAfterAdoption;
    } rows[] = {
        {"connected", connectedLines(), "8192", {"connect"}},
        {"dialling", connectedLines("send (ATDT0190123456^M)"), "2", {"3", "5", "14", "8192", "connect"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const DialerSettings settings = standInSettings(dir, row.lines);
        auto first = std::make_unique<PppDialer>(settings);
        Told firstTold(*first);
        first->SetWatchOtherCalls(true);
        ASSERT_EQ(first->SelectEntry("Casa"), 0);
        first->Dial();
        ASSERT_TRUE(QTest::qWaitFor([&] { return firstTold.contains(row.leftAt); }, 15000));

        const PppCallFiles files(PppCallFiles::callFolders(settings.runFolder).value(0));
        QStringList modes{QString::number(modeOf(files.folder()), 8)};
        for (const QString& name : QDir(files.folder()).entryList(QDir::Files))
            modes << name + ' ' + QString::number(modeOf(files.folder() + '/' + name), 8);
        EXPECT_EQ(modes.join(", "), "700, call 600, chat 600, options 600, pppd.log 600");
        const qsizetype wait = row.lines.indexOf("--wait--");
        const QByteArray written = wait < 0 ? row.lines : row.lines.left(wait);
        EXPECT_TRUE(QTest::qWaitFor([&] { return readBytes(files.logPath()) == written; }, 15000));
        Pidfd pppd(files.readRecord().value_or(PppCallFiles::Record{}).pid);
        first.reset();
        EXPECT_FALSE(pppd.hasExited());

        PppDialer second(settings);
        Told told(second);
        second.SetWatchOtherCalls(true);
        EXPECT_EQ(second.EntryName(), "Casa");
        EXPECT_EQ(second.IsOnline(), row.leftAt == QString("8192"));
        writeBytes(dir.filePath("go"), {});
        ASSERT_TRUE(told.waitFor(row.toldAfterAdoption.size()));
        EXPECT_EQ(told, row.toldAfterAdoption);
        EXPECT_TRUE(second.IsOnline());
        EXPECT_EQ(second.IpAddress(), "10.64.64.64");
        told.clear();
        second.HangUp();
        ASSERT_TRUE(told.waitFor(2));
        QTest::qWait(100);
        EXPECT_EQ(told, (QStringList{"8193", "disconnect"}));
        EXPECT_TRUE(pppd.hasExited());
        EXPECT_FALSE(QFileInfo::exists(files.folder()));
    }
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

// Programs of another user while our own call is up: one that only calls itself pppd is no call; the
// real chat under another name is another program's call, which the guard refuses at its first stage
// (as here), and which ends alone.
TEST(PppOwnCall, GoesOnWhileAnotherProgramsCallIsEnded) {
    QTemporaryDir dir;
    PppDialer dialer(standInSettings(dir, connectedLines()));
    dialer.SetUseProcessEvents(false);
    dialer.SetWatchOtherCalls(true);
    Told told(dialer);
    QString refused;
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) {
        if (s == 2 && dialer.EntryName() != "Casa") {
            refused = dialer.EntryName();
            dialer.HangUp();
        }
    });
    ASSERT_EQ(dialer.SelectEntry("Casa"), 0);
    dialer.Dial();
    ASSERT_TRUE(told.waitFor(8));
    const auto record = PppCallFiles(PppCallFiles::callFolders(dir.filePath("run")).value(0)).readRecord();
    ASSERT_TRUE(record.has_value());
    const Pidfd own(record->pid);
    told.clear();

    // chat works on a terminal: the emulator's, whose far end takes its time to answer.
    ModemLine line({"--delay", "5000"});
    ASSERT_TRUE(line.isReady());
    const auto nobody = [&](const QString& command) {
        auto process = std::make_unique<QProcess>();
        process->setStandardInputFile(line.device());
        process->setStandardOutputFile(line.device(), QIODevice::Append);
        process->start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/bash", "-c", command});
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    };
    Logged logged;
    const auto named = nobody("exec -a pppd sleep 3");
    const auto chat = nobody("exec -a sleep '" + chatCopy(dir) + "' -t 30 '' ATZ OK ATDT0899123456 CONNECT ''");
    const qint64 chatPid = chat->processId();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chat->state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(chat->exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(refused, "chat " + line.ptyPath());
    ASSERT_TRUE(told.waitFor(2));
    EXPECT_EQ(told, (QStringList{"2", "connect"}));
    EXPECT_FALSE(own.hasExited());
    EXPECT_TRUE(dialer.IsOnline());
    EXPECT_EQ(dialer.EntryName(), "Casa");
    EXPECT_EQ(logged.filter("ending another program's call").join('\n'),
              QString("dial-up: ending another program's call: %1, pid %2, uid 65534")
                  .arg(chatCopy(dir))
                  .arg(chatPid));
    EXPECT_TRUE(QTest::qWaitFor([&] { return named->state() == QProcess::NotRunning; }, 15000));

    told.clear();
    dialer.HangUp();
    ASSERT_TRUE(told.waitFor(2));
    EXPECT_EQ(told, (QStringList{"8193", "disconnect"}));
}

// A chat whose script lies on a FUSE mount that never answers: the reader of its number is killed and
// the call counts as unreadable, while the event loop went on all along.
TEST(OtherProgramsCall, WhoseScriptNeverComesCountsAsUnreadable) {
    QTemporaryDir dir;
    const QByteArray mount = QFile::encodeName(dir.filePath("fuse"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("fuse")));
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fuse, 0);
    const QByteArray options = "fd=" + QByteArray::number(fuse) + ",rootmode=40000,user_id=0,group_id=0";
    ASSERT_EQ(::mount("x", mount.constData(), "fuse", 0, options.constData()), 0);
    const auto unmount = qScopeGuard([&] {
        ::umount2(mount.constData(), MNT_DETACH);
        ::close(fuse);
    });
    PppDialer dialer(DialerSettings{.phonebook = {}, .chat = chatCopy(dir), .runFolder = dir.filePath("run")});
    dialer.SetUseProcessEvents(false);
    dialer.SetWatchOtherCalls(true);
    Logged logged;
    QString number = "(none)";
    QObject::connect(&dialer, &DialerControl::Status, [&](int s) {
        if (s == 2) {
            number = dialer.CallNumber();
            dialer.HangUp();
        }
    });
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(50);
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QProcess chat;
    chat.setStandardInputFile(line.device());
    chat.start(chatCopy(dir), {"-f", dir.filePath("fuse/script")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return number != "(none)"; }, 15000));
    EXPECT_EQ(number, "");
    EXPECT_EQ(logged.mentions("the reader was killed, the call's number counts as unreadable"), 1);
    EXPECT_GE(ticks, 10) << "the event loop stood still while the reader waited";
    EXPECT_TRUE(QTest::qWaitFor([&] { return chat.state() == QProcess::NotRunning; }, 15000));
    // No reader is left, not even unreaped: a child that bears the test program's name.
    const auto readers = [] {
        qsizetype found = 0;
        for (pid_t pid : DiallingProcess::descendantsOf({::getpid()}))
            found += readBytes(QString("/proc/%1/comm").arg(pid)) == readBytes("/proc/self/comm");
        return found;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return readers() == 0; }, 5000));
}

// A phonebook that others than root may write (which the guard cannot hold locked) decides nothing
// about the modem it names; root's own does.
TEST(PppRealLine, OnlyAPhonebookOfRootsClosesTheModemItNames) {
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString phonebook = dir.filePath("wvdial.conf");
    writeBytes(phonebook, "[Dialer Casa]\nModem = " + line.device().toUtf8() + "\nPhone = 0190123456\n");
    // Open to a group, as udev leaves a serial port.
    ASSERT_EQ(::chmod(QFile::encodeName(line.ptyPath()).constData(), 0660), 0);
    const unsigned open = modeOf(line.ptyPath());
    for (const unsigned mode : {0666u, 0600u}) {
        ::chmod(QFile::encodeName(phonebook).constData(), mode);
        Logged logged;
        PppDialer dialer({.backend = DialerSettings::Backend::Ppp, .phonebook = phonebook,
                          .runFolder = dir.filePath("run")});
        dialer.SetUseProcessEvents(false);
        dialer.SetWatchOtherCalls(true);
        EXPECT_EQ(modeOf(line.ptyPath()), mode == 0600u ? 0600u : open);
        EXPECT_EQ(logged.mentions("dial-up: the phonebook " + phonebook + " can be changed by others than root (" +
                                  phonebook + " can be written by others than its owner): the modems it names (" +
                                  line.device() + ") are left as they are"),
                  mode == 0600u ? 0 : 1);
    }
    EXPECT_EQ(modeOf(line.ptyPath()), open);
}

// A whole call's lines, the real chat's on the emulator and a stand-in pppd's (the real one needs
// /dev/ppp), which also sends them to syslog, as do the scripts it runs: each logged once, tagged with
// the entry, never the password. In pppd's mount namespace the test's syslog socket is covered.
TEST(PppRealLine, ACallsLinesAreLoggedOnceEachTaggedAndWithoutThePassword) {
    ModemLine line;
    ASSERT_TRUE(line.isReady());
    QTemporaryDir dir;
    const QString syslog = dir.filePath("log");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, QFile::encodeName(syslog).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const DialerSettings settings{.backend = DialerSettings::Backend::Ppp, .phonebook = dir.filePath("wvdial.conf"),
                                  .pppd = dir.filePath("pppd"), .runFolder = dir.filePath("run")};
    writeBytes(settings.phonebook, "[Dialer Casa]\nModem = " + line.device().toUtf8() +
                                       "\nPhone = 0190123456\nUsername = mario\nPassword = se\"greto\n");
    writeBytes(settings.pppd, "#!/bin/bash\nsay() { printf '%s\\n' \"$1\"; logger -u '" + syslog.toUtf8() +
                                  "' -t pppd \"$1\"; }\nfor word; do [ \"$connect\" ] && break; [ \"$word\" = "
                                  "connect ] && connect=1; done\n/bin/sh -c \"$word\" <\"$1\" >\"$1\" || exit 8\n"
                                  "say 'Serial connection established.'\nlogger -u '" + syslog.toUtf8() + "' -t ip-up "
                                  "-p daemon.warning 'no DNS'\nsay 'sent [PAP AuthReq id=0x1 user=\"mario\" "
                                  "password=\"se\\\"greto\"]'\nsay 'PAP authentication failed: se\"greto'\nexit 19\n");
    QFile::setPermissions(settings.pppd, QFile::ReadOwner | QFile::ExeOwner);
    Logged logged;
    PppDialer dialer(settings);
    dialer.SetSyslogSocket(syslog);
    Told told(dialer);
    ASSERT_EQ(dialer.SelectEntry("Casa"), 0);
    dialer.Dial();
    ASSERT_TRUE(QTest::qWaitFor([&] { return told.contains("error 691"); }, 20000));
    QStringList chat = split("timeout set to 5 seconds;abort on (BUSY);abort on (NO CARRIER);abort on (NO DIALTONE);"
                             "abort on (NO DIAL TONE);abort on (NO ANSWER);abort on (ERROR);send (ATZ^M);timeout set to"
                             " 60 seconds;expect (OK);ATZ^M^M;OK;-- got it;send (ATDT0190123456^M);expect (CONNECT);^M;"
                             "ATDT0190123456^M^M;CONNECT;-- got it;send (^M)");
    chat.replaceInStrings(QRegularExpression("^"), "chat[Casa]: ");
    chat << "pppd[Casa]: Serial connection established."
         << "pppd[Casa]: sent [PAP AuthReq id=0x1 user=\"mario\" password=<hidden>]"
         << "pppd[Casa]: PAP authentication failed: <hidden>";
    EXPECT_EQ(logged.filter(QRegularExpression("^(chat|pppd)\\[")), chat);
    EXPECT_EQ(logged.filter("greto"), QStringList{});
    EXPECT_EQ(logged.filter("ip-up["), QStringList{"ip-up[Casa]: no DNS"}); // a script's syslog line is kept
    char datagram[512];
    EXPECT_EQ(::recv(fd, datagram, sizeof datagram, 0), -1); // nothing reached syslog from pppd
    // The socket and logger work: what a program outside pppd's namespace sends arrives.
    QProcess::execute("logger", {"-u", syslog, "-t", "outside", "here"});
    EXPECT_GT(::recv(fd, datagram, sizeof datagram, 0), 0);
    ::close(fd);
}
