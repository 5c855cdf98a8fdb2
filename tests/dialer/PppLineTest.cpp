// What the real line makes of chat's and pppd's output, and the files it hands them.

#include "TestFiles.h"

#include "modem/DiallingProcess.h"
#include "dialer/PppCallFiles.h"
#include "dialer/PppCallLog.h"
#include "dialer/PppLineParser.h"
#include "dialer/PppLink.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Event = PppLineParser::Event;
using Kind = Event::Kind;

void PrintTo(const Event& e, std::ostream* out) {
    *out << "{kind " << int(e.kind) << ", " << e.value << ", " << e.text.toStdString() << '}';
}

// Recorded pppd transcripts (chat's lines among pppd's, as pppd's log shows them) played through
// the parser, with pppd's exit code and whether the hang-up was our own. A real call that connects and
// loses its carrier is the VM's (tests/vm/ppp-inside.sh).
TEST(PppTranscripts, EachEndingBecomesTheStagesAndErrorAUserKnows) {
    const auto state = [](int s) { return Event{Kind::State, s, {}}; };
    const auto failure = [](int code) { return Event{Kind::Error, code, PppLineParser::errorText(code)}; };
    const Event connected{Kind::Connect, 0, {}};
    const Event disconnected{Kind::Disconnect, 0, {}};
    const QList<Event> all{state(0),  state(1),    state(2),  state(3),    state(5),
                           state(14), state(8192), connected, state(8193), disconnected};
    const struct {
        const char* file;
        int exitCode;
        bool hungUp;
        QList<Event> expected;
    } rows[] = {
        // Our own hang-up raises no error, but a connected call still disconnects.
        {"connected-pap.log", 5, true, all},
        {"busy.log", 5, true, {state(0), state(1), state(2)}},
        {"busy.log", 8, false, {state(0), state(1), state(2), failure(676)}},
        {"no-carrier.log", 8, false, {state(0), state(1), state(2), failure(679)}},
        {"no-dialtone.log", 8, false, {state(0), state(1), state(2), failure(680)}},
        {"no-answer.log", 8, false, {state(0), state(1), state(2), failure(678)}},
        {"silent-modem.log", 8, false, {state(0), failure(692)}},
        {"chap-failed.log", 19, false, {state(0), state(1), state(2), state(3), state(5), failure(691)}},
        {"locked.log", 6, false, {state(0), failure(633)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const QByteArray transcript = readBytes(NORVALE_PPP_TRANSCRIPTS "/" + QString::fromLatin1(row.file));
        // The dial command is matched whatever its case.
        PppLineParser parser("atdt");
        QList<Event> events = parser.started();
        for (const QByteArray& line : transcript.split('\n'))
            events += parser.feed(QString::fromLatin1(line));
        events += parser.finished(row.exitCode, false, row.hungUp);
        EXPECT_EQ(events, row.expected);
        EXPECT_FALSE(parser.connected());
    }
}

TEST(PppCallFiles, AreBuiltFromTheEntryByteForByteAndThePasswordGoesAwayWithTheCall) {
    PhonebookEntry entry{.name = "Casa",
                         .number = "0190,123*#",
                         .user = "mario",
                         .password = "se\"cr\\et 'x'",
                         .modem = "/dev/ttyS0",
                         .baud = 115200,
                         .inits = {"ATZ", "AT&F ^X 'q'"},
                         .dialCommand = "ATDP"};
    EXPECT_EQ(PppCallFiles::chatScript(entry),
              "TIMEOUT 5\nABORT 'BUSY'\nABORT 'NO CARRIER'\nABORT 'NO DIALTONE'\nABORT 'NO DIAL TONE'\n"
              "ABORT 'NO ANSWER'\nABORT 'ERROR'\n'' 'ATZ'\nOK 'AT&F \\^X \\'q\\''\nTIMEOUT 60\n"
              "OK 'ATDP0190,123*#'\nCONNECT ''\n");
    PhonebookEntry bare;
    bare.number = "555";
    EXPECT_TRUE(PppCallFiles::chatScript(bare).endsWith("TIMEOUT 60\n'' 'ATDT555'\nCONNECT ''\n"));

    QTemporaryDir run;
    PppCallFiles files(entry, "/usr/sbin/chat", run.path());
    ASSERT_TRUE(files.isValid());
    EXPECT_EQ(readBytes(files.optionsPath()), "password \"se\\\"cr\\\\et 'x'\"\n");
    const QString folder = QFileInfo(files.optionsPath()).path();
    EXPECT_EQ(files.pppdArguments(),
              (QStringList{"/dev/ttyS0", "115200", "nodetach", "lock", "noipdefault", "defaultroute",
                           "usepeerdns", "noauth", "hide-password", "user", "mario", "file", files.optionsPath(),
                           "connect", "'/usr/sbin/chat' -s -S -v -f '" + files.scriptPath() + "'"}));
    files.remove();
    EXPECT_FALSE(QFileInfo::exists(folder));

    // A modem name that is no path cannot become a pppd option.
    entry.modem = "call";
    entry.baud = 0;
    EXPECT_EQ(PppCallFiles(entry, "chat", run.path()).pppdArguments().mid(0, 2),
              (QStringList{"/dev/call", "nodetach"}));
    EXPECT_EQ(PppCallFiles::shellQuoted("it's"), "'it'\\''s'");
    // The real pppd quotes the first 20 characters of a password over 1023 bytes in a warning.
    entry.password = QString(1100, u'p');
    EXPECT_EQ(PppCallFiles::optionsText(entry), "password \"" + QString(255, u'p') + "\"\n");
}

// A short password hidden wherever its letters stand would give itself away and spoil the line.
TEST(PppCallLog, OnlyALongPasswordIsHiddenOutsideThePapRequest) {
    PppCallLog shortOne(u"Casa"_s, u"1"_s);
    EXPECT_EQ(shortOne.tag("send (ATDT0190123456^M)"), u"chat[Casa]: send (ATDT0190123456^M)"_s);
    EXPECT_EQ(shortOne.tag("sent [PAP AuthReq id=0x1 user=\"mario\" password=\"1\"]"),
              u"chat[Casa]: sent [PAP AuthReq id=0x1 user=\"mario\" password=<hidden>]"_s);
    PppCallLog longOne(u"Casa"_s, u"segreto1"_s);
    EXPECT_EQ(longOne.tag("PAP authentication failed: segreto1"), u"pppd[Casa]: PAP authentication failed: <hidden>"_s);
}

// The interface goes with the line a moment before pppd ends: its last counters stay (the VM's drop,
// tests/vm/ppp-inside.sh), a new one's are its own.
TEST(PppLink, CountersReadAsSigned32BitAndPidFilesNameTheInterface) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("net/ppp0/statistics")) && QDir().mkpath(dir.filePath("run")));
    for (const auto& [name, text] : {std::pair{"net/ppp0/statistics/rx_bytes", "2147483648\n"}, // 2^31
                                     {"net/ppp0/statistics/tx_bytes", "4294967297\n"},          // 2^32 + 1
                                     {"run/ppp-casa.pid", "4242\nppp3\n"},
                                     {"run/ppp0.pid", "777\n"}})
        writeBytes(dir.filePath(name), text);
    const PppLink link(dir.filePath("net"), {dir.filePath("run")});
    EXPECT_EQ(link.bytesReceived("ppp0"), -2147483647 - 1);
    EXPECT_EQ(link.bytesSent("ppp0"), 1);
    EXPECT_EQ(link.bytesReceived("../ppp0"), 0);
    EXPECT_EQ(link.interfaces(), QStringList{"ppp0"});
    EXPECT_EQ(link.interfaceOf(4242), "ppp3");
    EXPECT_EQ(link.interfaceOf(777), "ppp0");
    EXPECT_EQ(link.interfaceOf(1), "");

    ASSERT_TRUE(QDir(dir.filePath("net/ppp0")).removeRecursively());
    EXPECT_EQ(link.bytesSent("ppp1"), 0);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("net/ppp0/statistics")));
    writeBytes(dir.filePath("net/ppp0/statistics/tx_bytes"), "52\n");
    EXPECT_EQ(link.bytesSent("ppp0"), 52);
}

TEST(DiallingProcess, EntryNameComesFromTheCommandLine) {
    const struct {
        const char* program;
        QStringList arguments;
        const char* device;
        const char* name;
    } rows[] = {
        {"wvdial", {"wvdial", "--config", "/tmp/x.conf", "premium"}, "", "premium"},
        {"wvdial", {"/usr/bin/wvdial", "--no-syslog"}, "", "Defaults"},
        {"pppd", {"pppd", "/dev/ttyS0", "call", "isp"}, "/dev/ttyS0", "isp"},
        {"pppd", {"pppd", "linkname", "casa", "nodetach"}, "", "casa"},
        {"pppd", {"pppd", "/dev/ttyS1", "call"}, "/dev/ttyS1", "pppd /dev/ttyS1"},
        {"chat", {"chat"}, "", "chat"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DiallingProcess::entryNameFor(row.program, row.arguments, row.device), row.name);
}
