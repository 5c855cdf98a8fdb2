// What the guard's own dial strings may carry, and the number read from what a dialling process runs.
#include "ModemLine.h"
#include "TestApp.h"

#include "dialer/CallNumberReader.h"
#include "dialer/DialString.h"
#include "dialer/PppCallFiles.h"
#include "modem/AllowedPrograms.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// The number as the guard reads it, the files in a child process.
QString numberOf(const DiallingProcess& process, const QSet<QByteArray>& trusted) {
    CallNumberReader reader;
    QString number = "(none)";
    QObject::connect(&reader, &CallNumberReader::numberRead, [&](quint64, const QString& n) { number = n; });
    reader.read({process}, trusted);
    EXPECT_TRUE(QTest::qWaitFor([&] { return number != "(none)"; }, 10000));
    return number;
}

} // namespace

TEST(DialString, AnEntryThatCouldReadAFileOrDialTwiceIsRefusedAndAnOwnScriptDialsItsNumber) {
    const QStringList wvdial{"ATZ", "ATQ0 V1 E1 S0=0 &C1 &D2 +FCLASS=0"};
    const struct {
        QStringList inits;
        QString dial, number, password, refusal;
    } rows[] = {
        {wvdial, "ATDT", "0,0612345678", "", ""},
        {{"AT&F \\N3 %C1 *E0 +CGDCONT=1,\"IP\",\"a;D0899\""}, "atdp", "*31#+39 (06) 1234-5678W,P!T", "", ""},
        {{"ATZ", "AT S0=0 D0899"}, "ATDT", "0612345678", "", "the Init string \"AT S0=0 D0899\" dials"},
        {{"AT+FCLASS=0;D0899"}, "ATDT", "0612345678", "", "the Init string \"AT+FCLASS=0;D0899\" dials"},
        {{"AT&FD0899"}, "ATDT", "0612345678", "", "the Init string \"AT&FD0899\" dials"},
        {{"ATZ", "@/etc/shadow"}, "ATDT", "0612345678", "", "the Init string \"@/etc/shadow\" names a file"},
        {{"ATZ\rATDT0899"}, "ATDT", "0612345678", "", "an Init string holds a control character"},
        {wvdial, "ATDT0899123456;ATD", "0612345678", "",
         "the Dial Command \"ATDT0899123456;ATD\" is none of ATD, ATDT and ATDP"},
        {wvdial, "ATDT", "0612345678;D0899", "",
         "the number \"0612345678;D0899\" holds \";\", which is no dialling character"},
        {wvdial, "ATDT", "@0612", "", "the number \"@0612\" holds \"@\", which is no dialling character"},
        {wvdial, "ATDT", "0612\x7f", "", "Dial Prefix, Area Code or Phone holds a control character"},
        {wvdial, "ATDT", "0612345678", "se\ngreto", "Password holds a control character"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.inits.join('|') + ' ' + row.dial + row.number).toStdString());
        PhonebookEntry entry{"Casa",       row.number, "mario",   row.password,
                             "/dev/ttyS0", 57600,      row.inits, row.dial};
        EXPECT_EQ(DialString::Refusal(entry), row.refusal);
        // What the guard's chat is told to dial always matches the number the entry was authorised for.
        if (row.refusal.isEmpty()) {
            EXPECT_EQ(
                DialString::Reduce(DialledNumber::OfChatScript(PppCallFiles::chatScript(entry).toUtf8())),
                DialString::Reduce(entry.number));
        }
    }
}

// The call's processes as the guard reads them, their files found through the folder of a live
// process (bash, idle on an open pipe, trusted here as if it were each of the programs; pppd's
// connect command runs the real chat).
TEST(DialledNumber, IsReadFromTheArgumentsAndTheFilesOfTheCallsProcesses) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("chat-script"),
               "# the provider\nABORT BUSY\n'' ATZ\nOK 'ATDT\\T'\nCONNECT \\d\\c\n");
    writeBytes(dir.filePath("options.casa"), "lock # to the end of the line\n"
                                             "connect \"/usr/sbin/chat -v -f chat-script -T 0612345678\"\n");
    writeBytes(dir.filePath("two-numbers"), "'' ATDT0612345678\nBUSY ATDT0899123456\n");
    // Another program under chat's name, for pppd to run.
    QFile::copy("/bin/true", dir.filePath("chat"));
    writeBytes(dir.filePath("wvdial.test"),
               "[Dialer Defaults]\nPhone = 0899123456\n[Dialer Casa]\nPhone = 0612345678\n");
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(opens, ::ptsname(master), IN_OPEN), 0);
    const struct {
        const char* program;
        QStringList arguments;
        const char* number;
    } rows[] = {
        {"chat", {"-v", "", "ATZ", "OK", "ATDT0899123456", "CONNECT", ""}, "ATDT0899123456"},
        {"chat", {"-T", "0612345678", "-f", "chat-script"}, "ATDT0612345678"},
        {"chat", {"-f", "two-numbers"}, ""},
        {"chat", {"", "AT\\c", "OK", "X3DT0899123456"}, "ATDT0899123456"},
        {"chat", {"SAY", "dial ATDT0899", "", "ATDT0612345678"}, "ATDT0612345678"},
        {"chat", {"", "@dial-file"}, ""},
        {"chat", {"-E", "", "ATDT0612345678$MORE"}, ""},
        // Any user's process may call itself chat and name a device as its script: the root guard
        // must not open it, since an open acts on the device (a modem raises DTR, a watchdog starts).
        {"chat", {"-f", ::ptsname(master)}, ""},
        // A stored number: the digits after it are not what is dialled.
        {"chat", {"", "AT&Z0=0899123456", "OK", "ATDS=0612345678"}, ""},
        {"chat", {"", "atdt0612345678w"}, "ATDt0612345678w"},
        {"pppd",
         {"/dev/ttyS0", "linkname", "Provider", "connect", "chat '' ATZ OK ATDT0899123456"},
         "ATDT0899123456"},
        {"pppd", {"/dev/ttyS0", "file", "options.casa"}, "ATDT0612345678"},
        {"pppd", {"/dev/ttyS0", "connect", "chat '' ATDT0612345678; chat '' ATDT0899"}, ""},
        {"pppd", {"/dev/ttyS0", "file", "missing-options"}, ""},
        {"pppd", {"/dev/ttyS0", "connect", dir.filePath("chat") + " '' ATDT0612345678"}, ""},
        {"wvdial", {"-C", "wvdial.test", "Casa"}, "ATDT0612345678"},
        {"wvdial", {"-C", "wvdial.test"}, "ATDT0899123456"},
        {"wvdial", {"-C", "wvdial.test", "Casa", "Defaults"}, ""},
    };
    QProcess standIn;
    standIn.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir.path()); // with no .wvdialrc
    standIn.setProcessEnvironment(environment);
    standIn.start("/bin/bash", {"-s"});
    ASSERT_TRUE(standIn.waitForStarted());
    const QSet<QByteArray> trusted{DialledNumber::Identity("/bin/bash"),
                                   DialledNumber::Identity(QFile::encodeName(chatProgram()))};
    for (const auto& row : rows) {
        SCOPED_TRACE((row.program + (' ' + row.arguments.join(' '))).toStdString());
        DiallingProcess process;
        process.pid = pid_t(standIn.processId());
        process.program = row.program;
        process.arguments = QStringList{row.program} + row.arguments;
        EXPECT_EQ(numberOf(process, trusted), row.number);
        // Only the real programs are trusted: bash is not chat.
        EXPECT_EQ(numberOf(process, {DialledNumber::Identity("/proc/self/exe")}), "");
    }
    char event[256];
    EXPECT_EQ(::read(opens, event, sizeof event), -1) << "the guard opened the device";
    ::close(opens);
    ::close(master);
    standIn.closeWriteChannel();
    EXPECT_TRUE(standIn.waitForFinished());
}

// A script only root may read is no script of a user's chat: the guard reads with its rights.
TEST(DialledNumber, IsReadWithTheRightsOfTheProcess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "reading with another process's rights takes root";
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    writeBytes(dir.filePath("secret"), "'' ATDT0612345678\n");
    ::chmod(QFile::encodeName(dir.filePath("secret")).constData(), 0600);
    const QByteArray bash = DialledNumber::Identity("/bin/bash");
    const AllowedPrograms bashAsChat({"/bin/bash"}, {"chat"});
    for (const QString& uid : {QStringLiteral("0"), QStringLiteral("65534")}) {
        QProcess standIn;
        standIn.start("setpriv", {"--reuid", uid, "--regid", uid, "--clear-groups", "/bin/bash", "-c",
                                  R"(exec -a stand-in /bin/bash -s -f "$0")", dir.filePath("secret")});
        ASSERT_TRUE(standIn.waitForStarted());
        std::optional<DiallingProcess> seen;
        // Once it runs with chat's words, past setpriv and the shell before it.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                seen = DiallingProcess::inspect(pid_t(standIn.processId()), bashAsChat);
                return seen && seen->arguments.value(0) == "stand-in";
            },
            10000));
        EXPECT_EQ(numberOf(*seen, {bash}), uid == "0" ? "ATDT0612345678" : "")
            << uid.toStdString();
        standIn.closeWriteChannel();
        EXPECT_TRUE(standIn.waitForFinished());
    }
}
