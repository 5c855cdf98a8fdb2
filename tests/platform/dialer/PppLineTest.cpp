// What the real line makes of chat's and pppd's output, and the files it hands them.

#include "platform/dialer/DialerControl.h"
#include "platform/dialer/DiallingProcess.h"
#include "platform/dialer/PppCallFiles.h"
#include "platform/dialer/PppLineParser.h"
#include "platform/dialer/PppLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Event = PppLineParser::Event;
using Kind = PppLineParser::Event::Kind;

Event state(int s) {
    return {Kind::State, s, {}};
}

Event failure(int code) {
    return {Kind::Error, code, PppLineParser::errorText(code)};
}

const Event connectEvent{Kind::Connect, 0, {}};
const Event disconnectEvent{Kind::Disconnect, 0, {}};

std::string describe(const QList<Event>& events) {
    std::string out;
    for (const Event& e : events) {
        switch (e.kind) {
        case Kind::State:
            out += "Status(" + std::to_string(e.value) + ") ";
            break;
        case Kind::Connect:
            out += "Connect ";
            break;
        case Kind::Disconnect:
            out += "Disconnect ";
            break;
        case Kind::Error:
            out += "LastError(" + std::to_string(e.value) + ") ";
            break;
        }
    }
    return out;
}

// Plays a recorded pppd transcript (chat's lines among pppd's, as pppd's log shows them).
QList<Event> play(PppLineParser& parser, const QString& file, int exitCode, bool hungUp = false) {
    QFile f(QStringLiteral(NORVALE_PPP_TRANSCRIPTS "/") + file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    QList<Event> events = parser.started();
    for (const QByteArray& line : f.readAll().split('\n'))
        events += parser.feed(QString::fromLatin1(line));
    events += parser.finished(exitCode, false, hungUp);
    return events;
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

PhonebookEntry sampleEntry() {
    PhonebookEntry e;
    e.name = QStringLiteral("Casa");
    e.number = QStringLiteral("0190,123*#");
    e.user = QStringLiteral("mario");
    e.password = QStringLiteral("se\"cr\\et 'x'");
    e.modem = QStringLiteral("/dev/ttyS0");
    e.baud = 115200;
    e.inits = {QStringLiteral("ATZ"), QStringLiteral("AT&F ^X 'q'")};
    e.dialCommand = QStringLiteral("ATDP");
    return e;
}

} // namespace

TEST(PppTranscripts, ConnectedCallGoesThroughEveryStageAndEndsWithDisconnect) {
    PppLineParser parser(QStringLiteral("ATDT"));
    const QList<Event> events = play(parser, QStringLiteral("connected-pap.log"), 16);
    const QList<Event> expected{state(0),  state(1),    state(2),     state(3),    state(5),
                                state(14), state(8192), connectEvent, state(8193), disconnectEvent};
    EXPECT_EQ(events, expected) << describe(events);
    EXPECT_EQ(parser.interfaceName(), QStringLiteral("ppp0"));
    EXPECT_EQ(parser.localAddress(), QStringLiteral("10.64.64.64"));
    EXPECT_FALSE(parser.connected());
}

TEST(PppTranscripts, EndingsBeforeConnectBecomeTheErrorsAUserKnows) {
    struct Case {
        const char* file;
        int exitCode;
        QList<Event> expected;
    };
    const Case cases[] = {
        {"busy.log", 8, {state(0), state(1), state(2), failure(676)}},
        {"no-carrier.log", 8, {state(0), state(1), state(2), failure(679)}},
        {"no-dialtone.log", 8, {state(0), state(1), state(2), failure(680)}},
        {"no-answer.log", 8, {state(0), state(1), state(2), failure(678)}},
        {"silent-modem.log", 8, {state(0), failure(692)}},
        {"chap-failed.log", 19, {state(0), state(1), state(2), state(3), state(5), failure(691)}},
        {"locked.log", 6, {state(0), failure(633)}},
        {"no-kernel-support.log", 4, {state(0), failure(633)}},
    };
    for (const Case& c : cases) {
        PppLineParser parser(QStringLiteral("ATDT"));
        const QList<Event> events = play(parser, QString::fromLatin1(c.file), c.exitCode);
        EXPECT_EQ(events, c.expected) << c.file << ": " << describe(events);
    }
}

TEST(PppTranscripts, OwnHangUpRaisesNoErrorButAConnectedCallStillDisconnects) {
    PppLineParser dialling(QStringLiteral("ATDT"));
    EXPECT_EQ(play(dialling, QStringLiteral("busy.log"), 5, true),
              (QList<Event>{state(0), state(1), state(2)}));

    PppLineParser connected(QStringLiteral("ATDT"));
    const QList<Event> events = play(connected, QStringLiteral("connected-pap.log"), 5, true);
    ASSERT_GE(events.size(), 2);
    EXPECT_EQ(events.mid(events.size() - 2), (QList<Event>{state(8193), disconnectEvent}));
}

TEST(PppTranscripts, InitStringsThatMentionDIsNotTheDialling) {
    // Init2 "AT&D2" and the like must not count as dialling: only the entry's dial command does.
    PppLineParser parser(QStringLiteral("ATDT"));
    parser.started();
    parser.feed(QStringLiteral("send (AT&D2^M)"));
    EXPECT_EQ(parser.state(), 0);
    parser.feed(QStringLiteral("send (atdt555^M)"));
    EXPECT_EQ(parser.state(), 2);
}

TEST(PppCallFiles, ChatScriptIsBuiltFromTheEntryByteForByte) {
    EXPECT_EQ(PppCallFiles::chatScript(sampleEntry()), QStringLiteral("TIMEOUT 5\n"
                                                                      "ABORT 'BUSY'\n"
                                                                      "ABORT 'NO CARRIER'\n"
                                                                      "ABORT 'NO DIALTONE'\n"
                                                                      "ABORT 'NO DIAL TONE'\n"
                                                                      "ABORT 'NO ANSWER'\n"
                                                                      "ABORT 'ERROR'\n"
                                                                      "'' 'ATZ'\n"
                                                                      "OK 'AT&F \\^X \\'q\\''\n"
                                                                      "TIMEOUT 60\n"
                                                                      "OK 'ATDP0190,123*#'\n"
                                                                      "CONNECT ''\n"));
    PhonebookEntry bare;
    bare.number = QStringLiteral("555");
    EXPECT_TRUE(
        PppCallFiles::chatScript(bare).endsWith(QStringLiteral("TIMEOUT 60\n'' 'ATDT555'\nCONNECT ''\n")));
}

TEST(PppCallFiles, PasswordStaysInAPrivateFileThatGoesAwayWithTheCall) {
    PppCallFiles files(sampleEntry(), QStringLiteral("/usr/sbin/chat"));
    ASSERT_TRUE(files.isValid());
    QFile options(files.optionsPath());
    ASSERT_TRUE(options.open(QIODevice::ReadOnly));
    EXPECT_EQ(options.readAll(), QByteArray("password \"se\\\"cr\\\\et 'x'\"\n"));
    EXPECT_EQ(modeOf(files.optionsPath()), 0600u);
    EXPECT_EQ(modeOf(files.scriptPath()), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(files.optionsPath()).path()), 0700u);

    const QStringList args = files.pppdArguments();
    for (const QString& a : args)
        EXPECT_FALSE(a.contains(QStringLiteral("cr\\et"))) << a.toStdString();
    EXPECT_EQ(args.mid(0, 10), (QStringList{"/dev/ttyS0", "115200", "nodetach", "lock", "noipdefault",
                                            "defaultroute", "usepeerdns", "noauth", "user", "mario"}));
    EXPECT_EQ(args.mid(10), (QStringList{"file", files.optionsPath(), "connect",
                                         "'/usr/sbin/chat' -s -v -f '" + files.scriptPath() + "'"}));

    const QString folder = QFileInfo(files.optionsPath()).path();
    files.remove();
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(PppCallFiles, ModemNameThatIsNoPathCannotBecomeAPppdOption) {
    PhonebookEntry e = sampleEntry();
    e.modem = QStringLiteral("call");
    e.baud = 0;
    PppCallFiles files(e, QStringLiteral("chat"));
    const QStringList args = files.pppdArguments();
    ASSERT_FALSE(args.isEmpty());
    EXPECT_EQ(args.at(0), QStringLiteral("/dev/call"));
    EXPECT_EQ(args.at(1), QStringLiteral("nodetach"));
    EXPECT_EQ(PppCallFiles::shellQuoted(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));
}

TEST(PppLink, CountersReadAsSigned32BitAndPidFilesNameTheInterface) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString stats = dir.filePath(QStringLiteral("net/ppp0/statistics"));
    ASSERT_TRUE(QDir().mkpath(stats));
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write(stats + QStringLiteral("/rx_bytes"), "2147483648\n"); // 2^31
    write(stats + QStringLiteral("/tx_bytes"), "4294967297\n"); // 2^32 + 1
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("run"))));
    write(dir.filePath(QStringLiteral("run/ppp-casa.pid")), "4242\nppp3\n");
    write(dir.filePath(QStringLiteral("run/ppp0.pid")), "777\n");

    const PppLink link(dir.filePath(QStringLiteral("net")), {dir.filePath(QStringLiteral("run"))});
    EXPECT_EQ(link.bytesReceived(QStringLiteral("ppp0")), -2147483647 - 1);
    EXPECT_EQ(link.bytesSent(QStringLiteral("ppp0")), 1);
    EXPECT_EQ(link.bytesReceived(QStringLiteral("ppp9")), 0);
    EXPECT_EQ(link.bytesReceived(QStringLiteral("../ppp0")), 0);
    EXPECT_EQ(link.interfaces(), QStringList{QStringLiteral("ppp0")});
    EXPECT_EQ(link.interfaceOf(4242), QStringLiteral("ppp3"));
    EXPECT_EQ(link.interfaceOf(777), QStringLiteral("ppp0"));
    EXPECT_EQ(link.interfaceOf(1), QString());
    EXPECT_EQ(link.address(QStringLiteral("ppp0")), QString());
}

TEST(DiallingProcess, EntryNameComesFromTheCommandLine) {
    EXPECT_EQ(DiallingProcess::entryNameFor("wvdial", {"wvdial", "--config", "/tmp/x.conf", "premium"}, {}),
              QStringLiteral("premium"));
    EXPECT_EQ(DiallingProcess::entryNameFor("wvdial", {"/usr/bin/wvdial", "--no-syslog"}, {}),
              QStringLiteral("Defaults"));
    EXPECT_EQ(DiallingProcess::entryNameFor("pppd", {"pppd", "/dev/ttyS0", "call", "isp"}, "/dev/ttyS0"),
              QStringLiteral("isp"));
    EXPECT_EQ(DiallingProcess::entryNameFor("pppd", {"pppd", "linkname", "casa", "nodetach"}, {}),
              QStringLiteral("casa"));
    EXPECT_EQ(DiallingProcess::entryNameFor("pppd", {"pppd", "/dev/ttyS1", "call"}, "/dev/ttyS1"),
              QStringLiteral("pppd /dev/ttyS1"));
    EXPECT_EQ(DiallingProcess::entryNameFor("chat", {"chat", "-f", "s"}, "/dev/pts/4"),
              QStringLiteral("chat /dev/pts/4"));
    EXPECT_EQ(DiallingProcess::entryNameFor("chat", {"chat"}, {}), QStringLiteral("chat"));
    EXPECT_EQ(DiallingProcess::programKind("/usr/sbin/pppd (deleted)"), QStringLiteral("pppd"));
    EXPECT_EQ(DiallingProcess::programKind("/usr/bin/chatty"), QString());
}
