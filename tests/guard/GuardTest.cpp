// The guard in the test process on a real socket: start-up, defence, requests, dials and shut-down.
// The socket's limits are the black-box tests' (tests/e2e/defence.sh).
#include "GuardFixture.h"
#include <unistd.h>

namespace {

// count connections to the socket at path as uid, made one after the other by a process that stays
// until it is ended, so that the guard may ask polkit about a live process; the first sends request.
// What the last was told before the guard closed it comes on the process's output.
std::unique_ptr<QProcess> connections(const QString& path, uid_t uid, int count, const QByteArray& request = {}) {
    const char* script = "import socket, sys, time\n"
                         "made = [socket.socket(socket.AF_UNIX) for _ in range(int(sys.argv[2]))]\n"
                         "for one in made: one.connect(sys.argv[1])\n"
                         "made[0].sendall(sys.argv[3].encode())\n"
                         "print(made[-1].recv(4096).decode(), flush=True)\n"
                         "time.sleep(600)\n";
    auto process = std::make_unique<QProcess>();
    process->start(u"setpriv"_s, {u"--reuid=%1"_s.arg(uid), u"--regid=%1"_s.arg(uid), u"--clear-groups"_s,
                                  u"/usr/bin/python3"_s, u"-c"_s, QString::fromLatin1(script), path,
                                  QString::number(count), QString::fromUtf8(request)});
    EXPECT_TRUE(process->waitForStarted());
    return process;
}

bool turnedAway(QProcess& connections) {
    return QTest::qWaitFor([&] { return connections.peek(4096).contains(R"("error":"busy")"); }, WaitMs);
}

TEST_F(GuardTest, StartUpLocksThePhonebookLaterThenEveryCallNotAuthorisedIsHungUpOnceDisplaysHear) {
    const QByteArray stored = Banner + General + "TopWin= 1500\r\nLeftWin= 3000\r\n" + table("1011");
    QElapsedTimer clock;
    clock.start();
    start(stored);
    // The stored authorised rows compared with the phonebook.
    QStringList rows;
    for (const QString& name : split("Provider;Office;Tampered;Gone;Stranger"))
        rows << name + u'=' + QString::number(Global::IsAuthorised(name));
    EXPECT_EQ(rows.join(u' '), u"Provider=1 Office=0 Tampered=0 Gone=1 Stranger=0"_s);
    EXPECT_EQ(Global::state.ConnectionCount, 4);
    EXPECT_FALSE(Global::FileExists(ini));
    EXPECT_EQ(settings(), stored);
    EXPECT_EQ(phonebookState(), u"readable writable"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Global::FileExists(book); }, WaitMs));
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_EQ(phonebookState(), u"locked read-only"_s);

    // State two and the connect hang up every entry not authorised, once the displays that said hello
    // have heard them.
    Client& display = connect();
    display.ask(Op::Hello);
    Client& silent = connect();
    // The component reports its hang-up at once, from inside HangUp.
    line->onHangUp = [this] {
        emit line->Status(DialerControl::Disconnected);
        emit line->Disconnect();
    };
    const QString hungUp = uR"({"event":"status","state":8193}
{"event":"disconnect"})"_s;
    // After "=": the number the call dials, Provider's own being 0245871200; empty: it cannot be read.
    const QString calls =
        u"Office Stranger Tampered Provider=ATDT024587120 Provider=ATDT0245871200;D0899 Provider="_s;
    for (const QString& call : calls.split(u' ')) {
        SCOPED_TRACE(call.toStdString());
        const QString entry = call.section(u'=', 0, 0);
        line->callEntry = entry;
        if (call.contains(u'='))
            line->callNumber = call.section(u'=', 1);
        forget();
        emit line->Status(DialerControl::ConnectDevice);
        EXPECT_EQ(display.events(3), uR"({"event":"status","state":2})"_s + u'\n' + hungUp);
        forget();
        emit line->Connect();
        EXPECT_EQ(display.events(3),
                  uR"({"authorised":false,"entry":"%1","event":"connect","ip":"10.64.0.7","speed_down":0,)"
                  uR"("speed_up":0})"_s.arg(entry) +
                      u'\n' + hungUp);
        EXPECT_EQ(log, QStringList{u"HangUp"_s});
        EXPECT_FALSE(Global::state.Connected);
    }
    line->callEntry = u"Provider"_s;
    line->callNumber.reset();
    forget();
    emit line->Status(DialerControl::ConnectDevice);
    emit line->Status(DialerControl::Connected);
    emit line->Connect();
    emit line->LastError(633, u"The port is not available."_s, 0);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(Global::state.Connected);
    EXPECT_EQ(display.events(4), uR"({"event":"status","state":2}
{"event":"status","ip":"10.64.0.7","state":8192}
{"authorised":true,"entry":"Provider","event":"connect","ip":"10.64.0.7","speed_down":230,"speed_up":32}
{"code":633,"event":"error","text":"The port is not available."})"_s);
    // Its answer comes after whatever was sent to it before: no event.
    silent.ask(Op::Counters);
    EXPECT_TRUE(silent.told.isEmpty());

    // A display that connects during the call learns what it missed.
    line->online = true;
    line->sent = 1234;
    line->received = 987654;
    const QString snapshot =
        uR"({"connected":%1,"end_color":65535,"entry":"%2","fence":[],"ip":"%3","left":3000,"ok":true,)"
        uR"("phonebook":"%4","speed_down":230,"speed_up":32,"start_color":16711680,"top":1500})"_s;
    EXPECT_EQ(text(silent.ask(Op::Hello)), snapshot.arg(u"true"_s, u"Provider"_s, u"10.64.0.7"_s, book));
    EXPECT_EQ(text(silent.ask(Op::Counters)),
              uR"({"ok":true,"online":true,"received":987654,"sent":1234})"_s);
    line->online = false;
    emit line->Disconnect();
    EXPECT_EQ(text(silent.ask(Op::Hello)), snapshot.arg(u"false"_s, QString(), QString(), book));
}

TEST_F(GuardTest, APlaceIsWrittenAtOnceThenAtMostOnceASecondTheNewestLast) {
    start();
    Client& display = connect();
    const auto place = [&](const QJsonValue& top, const QJsonValue& left) {
        return display.error(Op::Position, {{u"top"_s, top}, {u"left"_s, left}});
    };
    EXPECT_EQ(place(u"1500"_s, 3000), u"bad_request"_s);
    EXPECT_EQ(place(1500, QJsonValue::Undefined), u"bad_request"_s);
    EXPECT_EQ(settings(), Banner);

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(place(1500, 3000), u"ok"_s);
    const QByteArray first = Banner + "[General Setup]\r\nTopWin= 1500\r\nLeftWin= 3000\r\n";
    EXPECT_EQ(settings(), first);
    place(0, 15);
    // Nor does a new connection of the same user get round the second.
    EXPECT_EQ(connect().error(Op::Position, {{u"top"_s, 30}, {u"left"_s, 60}}), u"ok"_s);
    EXPECT_EQ(settings(), first);
    place(-1440.0 / 132 * 8, 1e9); // at 132 dpi; beyond X11's coordinates
    EXPECT_EQ(settings(), first);
    const QByteArray newest = Banner + "[General Setup]\r\nTopWin=-87.27273\r\nLeftWin= 491505\r\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings() == newest; }, WaitMs));
    EXPECT_GE(clock.elapsed(), 900);
}

TEST_F(GuardTest, DialDefaultAnswersAndReleasesThePhonebookOnlyAroundTheDial) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the test dials as root";
    const struct {
        int pred;
        const char* answer;
        const char* calls;
    } rows[] = {
        {-1, R"({"ok":true,"result":"no_default"})", ""},
        {1, R"({"ok":true,"result":"not_authorised"})", ""},
        {0, R"({"ok":true,"result":"dialled"})", "SelectEntry Provider;Dial"},
        {3,
         R"({"code":623,"ok":true,"result":"select_failed","text":"The system could not find the phone book )"
         R"(entry for this connection."})",
         "SelectEntry Gone"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer);
        start(Banner + table("1011", row.pred));
        service->tmrLock_Timer();
        log.clear();
        QString atDial;
        line->onDial = [&] { atDial = phonebookState(); };
        EXPECT_EQ(text(connect().ask(Op::DialDefault)), QString::fromUtf8(row.answer));
        EXPECT_EQ(log.join(u';'), QString::fromUtf8(row.calls));
        EXPECT_EQ(atDial, log.contains(u"Dial"_s) ? u"readable writable"_s : QString());
        EXPECT_EQ(phonebookState(), u"locked read-only"_s);
    }
}

TEST_F(GuardTest, OneSetupAtATimeItsDialIsAuthorisedItsSaveAndTheStopReachEveryDisplay) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the test is the administrator root";
    start(Banner + General + table("1011"));
    service->tmrLock_Timer();
    Client& a = connect();
    Client& b = connect();
    a.ask(Op::Hello);
    b.ask(Op::Hello);
    EXPECT_EQ(a.ask(Op::SetupOpen).value(u"entries"_s).toVariant().toStringList(),
              split("Provider;Office;Tampered;Stranger"));
    EXPECT_EQ(b.error(Op::SetupOpen), u"busy"_s);
    EXPECT_EQ(a.error(Op::SetupClose), u"ok"_s);
    EXPECT_EQ(a.error(Op::SetupSave), u"no_setup"_s);
    Client& c = connect();
    EXPECT_EQ(c.error(Op::SetupOpen), u"ok"_s);
    EXPECT_EQ(a.error(Op::SetupOpen), u"busy"_s);
    c.socket.abort(); // its display ends without closing the setup
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 2; }, WaitMs));
    EXPECT_EQ(a.error(Op::SetupOpen), u"ok"_s);

    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 0}, {u"value"_s, true}});
    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 3}, {u"value"_s, u"065551234"_s}});
    a.ask(Op::SetupField, {{u"name"_s, u"Gone"_s}, {u"field"_s, 0}, {u"value"_s, false}});
    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 2}, {u"value"_s, true}});
    forget();
    QString atDial;
    line->onDial = [&] { atDial = phonebookState(); };
    EXPECT_EQ(a.error(Op::SetupDial, {{u"name"_s, u"Office"_s}}), u"ok"_s);
    EXPECT_EQ(atDial, u"readable read-only"_s);
    EXPECT_EQ(phonebookState(), u"locked read-only"_s);
    emit line->Status(DialerControl::ConnectDevice);
    emit line->Connect();
    EXPECT_EQ(log, split("SelectEntry Office;Dial"));
    EXPECT_TRUE(Global::state.Connected);
    a.ask(Op::SetupColours, {{u"start"_s, 1}, {u"end"_s, 2}});
    a.ask(Op::SetupSave);
    for (Client* display : {&a, &b})
        EXPECT_EQ(display->events(4), uR"({"end_color":65535,"event":"saved","start_color":16711680}
{"event":"status","state":2}
{"authorised":true,"entry":"Office","event":"connect","ip":"10.64.0.7","speed_down":14,"speed_up":10}
{"end_color":2,"event":"saved","start_color":1})"_s);
    EXPECT_EQ(settings(), Banner + "[General Setup]\r\nStartColor= 1\r\nEndColor= 2\r\n" + table("1100", 1));

    // The stop is answered, saves what changed since, tells every display and releases both files.
    a.ask(Op::SetupColours, {{u"start"_s, 3}, {u"end"_s, 4}});
    forget();
    EXPECT_EQ(b.error(Op::Stop), u"ok"_s);
    for (Client* display : {&a, &b})
        EXPECT_EQ(display->events(1), uR"({"event":"stopped"})"_s);
    EXPECT_EQ(ended, QList<int>{0});
    EXPECT_EQ(phonebookState(), u"readable writable"_s);
    EXPECT_TRUE(Global::FileExists(ini));
    EXPECT_EQ(readBytes(ini), Banner + "[General Setup]\r\nStartColor= 3\r\nEndColor= 4\r\n" + table("1100", 1));
    // Each administrator's action names who did it; the number set as it was is no change.
    const QString by = u" uid 0 (root, pid %1)"_s.arg(::getpid());
    QStringList audit = uR"(setup opened by@;setup closed by@;setup opened by@;setup opened by@;"Office" authorised by@;
authorisation of "Gone" revoked by@;"Office" made the default entry by@;dialling "Office" from the setup for@;
colours changed from 16711680 and 65535 to 1 and 2 by@;settings saved by@;colours changed from 1 and 2 to 3 and 4 by@;
stopped by@)"_s.remove(u'\n').replace(u'@', by).split(u';');
    EXPECT_EQ(logged().filter(by), audit.replaceInStrings(QRegularExpression(u"^"_s), u"norvale-guard: "_s));
}

// Those who may dial may not flood the log by dialling: a user's hang-ups are counted in its next
// line, none lost and none repeated; a name cannot end its quotes early and go on as the guard.
TEST_F(GuardTest, ADiallersLinesAreCountedNotRepeatedAndItsNamesStayInTheirQuotes) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the test dials as root";
    start(Banner + table("1011"));
    Client& display = connect();
    EXPECT_EQ(display.ask(Op::DialEntry, {{u"name"_s, u"Gone\" for uid 0 (root\\"_s}}).value(u"code"_s).toInt(), 623);
    const QString by = u"uid 0 (root, pid %1)"_s.arg(::getpid());
    EXPECT_TRUE(logged().contains(u"norvale-guard: dialling \"Gone\\\" for uid 0 (root\\\\\" for "_s + by));
    constexpr int HangUps = 50;
    for (int i = 0; i < HangUps; ++i)
        ASSERT_EQ(display.error(Op::HangUp), u"ok"_s);
    service->Shutdown();
    const QRegularExpression told(u"^norvale-guard: hanging up for uid 0 \\(root, pid \\d+\\)"
                                  u"(?: \\(and (\\d+) more lines of that uid left out\\))?$|"
                                  u"^norvale-guard: (\\d+) more lines of uid 0 left out: hang up$"_s);
    int lines = 0;
    int counted = 0;
    for (const QString& line : logged()) {
        const QRegularExpressionMatch match = told.match(line);
        if (!match.hasMatch())
            continue;
        lines += match.captured(2).isEmpty();
        counted += match.captured(1).toInt() + match.captured(2).toInt();
    }
    EXPECT_EQ(lines + counted, HangUps);
    EXPECT_LT(lines, HangUps);
}

// Eight users with eight idle connections each fill the room all users share: another user's and a
// user's ninth connection are turned away, while root's requests and an administrator's stop get
// through, up to the eight connections that each user has at most.
TEST_F(GuardTest, RootAndTheAdministratorsHaveRoomOfTheirOwnThatOtherUsersConnectionsNeverTake) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "connecting as other users needs root";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0705),
              0); // guard.sock's folder open to them
    const uid_t administrator = 70100;
    groups.insert(administrator, {u"sudo"_s});
    start(Banner + table("1011"));
    std::vector<std::unique_ptr<QProcess>> users;
    // One user at a time: connections the guard has not taken yet fill the socket's backlog.
    for (uid_t uid = 70001; uid <= 70008; ++uid) {
        users.push_back(connections(server->path(), uid, P::MaxClientsPerUid));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return server->clientCount() == int(users.size()) * P::MaxClientsPerUid; }, WaitMs));
    }
    EXPECT_TRUE(turnedAway(*connections(server->path(), 70009, 1)));
    EXPECT_EQ(connect().error(Op::Hello), u"ok"_s); // root's
    const auto theirs = connections(server->path(), administrator, P::MaxClientsPerUid + 1,
                                    P::Line({{u"v"_s, 1}, {u"id"_s, 1}, {u"op"_s, Op::Stop}}));
    EXPECT_TRUE(turnedAway(*theirs));
    EXPECT_EQ(server->clientCount(), P::MaxClients + 1 + P::MaxClientsPerUid);
    ASSERT_TRUE(QTest::qWaitFor([&] { return polkitAsks == 1; }, WaitMs));
    EXPECT_EQ(polkitPeer.uid, administrator);
    std::exchange(polkitAnswer, nullptr)({.verdict = Authority::Verdict::Granted});
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended == QList<int>{0}; }, WaitMs));
    EXPECT_EQ(logged().filter(u"stopped by uid 70100"_s).size(), 1);
}

// A dial's answer waits for the call's outcome and holds nobody meanwhile, and its call goes with its
// client; norvale-line of a user who may not dial is refused. An entry not authorised hung up at the
// device's stage, the displays told that call's stages and nothing after, and the guard's own call,
// dialled by norvale-line, are the VM's on the real line (tests/vm/ppp-inside.sh).
TEST_F(GuardTest, DialEntryAnswersWithTheOutcomeHoldsNobodyAndOnlyForThoseWhoMayDial) {
    if (::geteuid() != 0 || !::getpwnam("nobody"))
        GTEST_SKIP() << "the test dials as root, and as the user nobody";
    groups.insert(::getuid(), {u"dip"_s});
    start(Banner + table("1011"));
    line->onDial = [&] { line->online = true; };
    Client& a = connect();
    a.socket.write(P::Line({{u"v"_s, 1}, {u"id"_s, 1}, {u"op"_s, Op::DialEntry}, {u"name"_s, u"Office"_s}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return line->online; }, WaitMs));
    EXPECT_EQ(text(connect().ask(Op::Counters)), uR"({"ok":true,"online":false,"received":0,"sent":0})"_s);
    EXPECT_EQ(connect().ask(Op::DialEntry, {{u"name"_s, u"Office"_s}}).value(u"code"_s).toInt(), 633);
    EXPECT_TRUE(a.answers.isEmpty());
    a.socket.abort();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.endsWith(u"HangUp"_s); }, WaitMs));

    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0705), 0);
    QProcess norvaleLine;
    norvaleLine.start(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s,
                                     QString::fromUtf8(NORVALE_LINE), u"--guard-socket"_s, server->path(),
                                     u"dial"_s, u"Provider"_s});
    (void)QTest::qWaitFor([&] { return norvaleLine.state() == QProcess::NotRunning; }, WaitMs);
    EXPECT_EQ(QString::number(norvaleLine.exitCode()) + u' ' + QString::fromUtf8(norvaleLine.readAllStandardOutput()).trimmed(),
              u"2 refused: only root and the groups dip, sudo, wheel and admin may dial"_s);
    EXPECT_EQ(logged().filter(QRegularExpression(u"^norvale-guard: refused dial_entry to uid \\d+ \\(nobody, pid \\d+\\): "
                                                 "not allowed to dial$"_s)).size(), 1);
}

} // namespace

// A settings file the guard cannot lock (its folder is open to its group) and cannot write (an
// administrator's own immutable flag, which the guard leaves alone): every display hears both, a
// display that says hello later the one standing.
TEST_F(GuardTest, ReducedProtectionAndAFailedSaveReachEveryDisplayAlsoOneThatComesLater) {
    writeBytes(ini, Banner);
    const int fd = ::open(QFile::encodeName(ini).constData(), O_RDONLY | O_CLOEXEC);
    int flags = FS_IMMUTABLE_FL;
    if (fd < 0 || ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
        GTEST_SKIP() << "needs a file system with the immutable flag, and root";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0770), 0);
    start();
    const QString reduced = u"{\"event\":\"notice\",\"text\":\"Protezione ridotta: "_s + ini + u"\"}"_s;
    Client& first = connect();
    first.ask(Op::Hello);
    EXPECT_EQ(first.events(1), reduced);
    EXPECT_EQ(first.error(Op::Position, {{u"top"_s, 15}, {u"left"_s, 30}}), u"ok"_s);
    const QString unsaved = u"{\"event\":\"notice\",\"text\":\"Impossibile salvare le impostazioni.\"}"_s;
    EXPECT_EQ(first.events(2), reduced + u'\n' + unsaved);
    Client& later = connect();
    later.ask(Op::Hello);
    EXPECT_EQ(later.events(1), unsaved);
    EXPECT_EQ(readBytes(ini), Banner);
    flags = 0;
    EXPECT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
    EXPECT_TRUE(flags & FS_IMMUTABLE_FL);
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
}
