// Who may ask the guard for what: the groups, polkit asked about the very process that asks, and
// pkcheck's endings.
#include "GuardFixture.h"

#include <map>
#include <unistd.h>

namespace {

TEST_F(GuardTest, GroupsDecideWhoMayDialAndPolkitConfirmsAnAdministratorButRoot) {
    for (const QString& user : split("1001=users sudo;1002=wheel;1003=admin;1004=dip;1005=users"))
        groups.insert(user.section(u'=', 0, 0).toUInt(), user.section(u'=', 1).split(u' '));
    QStringList rights; // 1006 has no user
    for (const uid_t uid : {0u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u})
        rights << u"%1:%2%3"_s.arg(uid).arg(authority.mayDial(uid)).arg(authority.inAdministratorGroup(uid));
    EXPECT_EQ(rights.join(u' '), u"0:11 1001:11 1002:11 1003:11 1004:10 1005:00 1006:00"_s);

    std::optional<bool> granted;
    const auto confirm = [&](Authority::Peer peer) {
        granted.reset();
        authority.confirmAdministrator(
            peer, [&](const Authority::Answer& a) { granted = a.verdict == Authority::Verdict::Granted; });
        return granted;
    };
    EXPECT_EQ(confirm({0, 0, 0}), true);
    EXPECT_EQ(confirm({1004, 4242, 777}), false);
    EXPECT_EQ(confirm({1002, 4242, 0}), false); // the process is gone
    // A member of an administrators' group waits for polkit (the test below).
    EXPECT_EQ(confirm({1002, 4242, 777}), std::nullopt);
    EXPECT_EQ(polkitAsks, 1);
}

// Another user, a member of sudo, through the real socat: while polkit is asked (about that very
// process: tests/e2e/tray-setup.sh) what needs no administrator is answered, and what came after the
// question shares its answer.
TEST_F(GuardTest, WhilePolkitIsAskedAboutALiveProcessOnlyTheSetupAndStopWaitAndShareItsAnswer) {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (!nobody)
        GTEST_SKIP() << "connecting as another user needs root and the user nobody";
    groups.insert(nobody->pw_uid, {u"sudo"_s});
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0705), 0); // guard.sock's folder open to it
    start(Banner + table("1011"));
    QProcess client;
    client.start(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, u"socat"_s,
                                u"-"_s, u"UNIX-CONNECT:"_s + server->path()});
    ASSERT_TRUE(client.waitForStarted());
    int id = 0;
    for (const char* op : {"setup_open", "counters", "setup_close", "hello"})
        client.write(P::Line({{u"v"_s, 1}, {u"id"_s, ++id}, {u"op"_s, QString::fromLatin1(op)}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return polkitAsks == 1; }, WaitMs));
    QByteArray out;
    const auto lines = [&](int count) {
        return QTest::qWaitFor([&] { return (out += client.readAllStandardOutput()).count('\n') >= count; }, WaitMs);
    };
    ASSERT_TRUE(lines(2)); // while polkit is asked
    std::exchange(polkitAnswer, nullptr)({.verdict = Authority::Verdict::Granted});
    // One stop asks, sixteen wait behind it and share its answer, one more is turned away at once.
    while (id < 22)
        client.write(P::Line({{u"v"_s, 1}, {u"id"_s, ++id}, {u"op"_s, u"stop"_s}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return polkitAsks == 2; }, WaitMs)); // for the stop
    ASSERT_TRUE(lines(5));
    // polkit that could not be asked: why, with what pkcheck said, in the log and the answer.
    const QString noAgent = u"Authorization requires authentication but no agent is available."_s;
    std::exchange(polkitAnswer, nullptr)(
        {.verdict = Authority::Verdict::Unavailable, .reason = P::Unavailable::NoAgent, .status = 2, .said = noAgent});
    ASSERT_TRUE(lines(22));
    EXPECT_EQ(logged().filter(u"polkit could not be asked"_s),
              QStringList{u"norvale-guard: refused the stop to uid %1 (%2, pid %3): polkit could not be asked: no "
                          "authentication agent runs for the user: "_s.arg(nobody->pw_uid).arg(nobody->pw_name)
                              .arg(client.processId()) + noAgent});
    EXPECT_TRUE(out.contains(R"("error":"auth_unavailable","id":5,"message":"polkit could not be asked","ok":false,"reason":"no_agent")"));
    QStringList answers;
    for (const QByteArray& answer : out.trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(answer).object();
        answers
            << u"%1 %2"_s.arg(object.value(u"id"_s).toInt()).arg(object.value(u"error"_s).toString(u"ok"_s));
    }
    QString expected = u"2 ok;4 ok;1 ok;3 ok;22 busy"_s; // the setup was open for the close behind it
    for (int i = 5; i < 22; ++i)
        expected += u";%1 auth_unavailable"_s.arg(i);
    EXPECT_EQ(answers, expected.split(u';'));
    EXPECT_EQ(polkitAsks, 2);
    client.kill();
    client.waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 0; }, WaitMs));

    // A process that has ended by the time the guard takes its connection, its request sent: its pid
    // may name another process by then (here a zombie, whose start time can still be read), and
    // polkit would be asked about that process. A member of sudo is then no administrator.
    bool gone = false;
    QObject::connect(server.get(), &GuardServer::clientGone, [&] { gone = true; });
    const QString request = dir.filePath(u"request"_s);
    writeBytes(request, P::Line({{u"v"_s, 1}, {u"id"_s, 1}, {u"op"_s, u"setup_open"_s}}));
    const QByteArray from = QFile::encodeName(u"OPEN:"_s + request);
    const QByteArray to = QFile::encodeName(u"UNIX-CONNECT:"_s + server->path());
    const pid_t child = ::fork(); // not a QProcess, which would reap it
    if (child == 0) {
        ::execl("/usr/bin/setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "socat",
                "-u", from.constData(), to.constData(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    siginfo_t zombie{};
    ASSERT_EQ(::waitid(P_PID, id_t(child), &zombie, WEXITED | WNOWAIT), 0); // not reaped
    ASSERT_EQ(zombie.si_status, 0);
    ASSERT_NE(Authority::StartTimeOf(child), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone || polkitAsks > 2; }, WaitMs));
    EXPECT_EQ(polkitAsks, 2);
    ::waitpid(child, nullptr, 0);
}

} // namespace

// A fake pkcheck in the place of the real one, ending in each way pkcheck(1) knows and a few more.
TEST(AuthorityTest, EachWayPkcheckCannotAskIsAReasonOfItsOwnACancelledDialogARefusal) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "asking polkit as the guard does takes root";
    QTemporaryDir dir;
    const QString pkcheck = dir.filePath(u"pkcheck"_s);
    QStringList answers;
    for (const char* ending : {"exit 0", "echo 'Not authorized.' >&2; exit 1", "echo 'Authentication request was "
                               "dismissed.' >&2; exit 3", "echo 'Authorization requires authentication but no agent "
                               "is available.' >&2; exit 2", "echo 'Error getting authority: Could not connect: No such"
                               " file or directory' >&2; exit 126", "echo 'Error checking for authorization x: "
                               "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown' >&2; exit 127", "exit 126",
                               "exit 4", "kill -SEGV $$", "missing"}) {
        writeBytes(pkcheck, "#!/bin/sh\n" + QByteArray(ending) + '\n');
        QFile::setPermissions(pkcheck, QFile::ReadOwner | QFile::ExeOwner);
        if (ending == "missing"_ba)
            QFile::remove(pkcheck);
        Authority authority([](uid_t) { return std::optional(QStringList{u"sudo"_s}); },
                            Authority::Pkcheck(WaitMs, pkcheck));
        std::optional<Authority::Answer> got;
        authority.confirmAdministrator({1000, ::getpid(), Authority::StartTimeOf(::getpid())},
                                       [&](const Authority::Answer& answer) { got = answer; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, WaitMs));
        answers << u"%1 %2 %3 %4"_s.arg(int(got->verdict)).arg(got->reason).arg(got->status).arg(got->said.left(12));
    }
    EXPECT_EQ(answers, split("0  0 ;1  1 Not authoriz;1  3 Authenticati;4 no_agent 2 Authorizatio;4 no_polkit 126 Error gettin;"
                             "4 no_polkit 127 Error checki;4 status 126 ;4 status 4 ;4 signal 11 ;4 no_pkcheck 0 execvp: No s"));
}

// A program that floods questions and gives them up keeps no other display of the same user from
// asking: a question nobody waits for is killed to make room, a process has two questions at most,
// and the user never more than eight pkcheck processes.
TEST(AuthorityTest, GivenUpQuestionsMakeRoomForAnotherProcessOfTheSameUserWithinTheCaps) {
    QTemporaryDir dir;
    const QString pkcheck = dir.filePath(u"pkcheck"_s);
    // Asked about pid 100 it says yes at once; about another, deaf to SIGTERM, it notes its pid
    // under the asker's and waits.
    writeBytes(pkcheck, "#!/bin/sh\ntrap '' TERM\ncase $4 in 100,*) exit 0 ;; esac\necho >\"" +
                            QFile::encodeName(dir.path()) + "/${4%%,*}.$$\"\nexec sleep 600\n");
    QFile::setPermissions(pkcheck, QFile::ReadOwner | QFile::ExeOwner);
    Authority authority([](uid_t) { return std::optional(QStringList{u"sudo"_s}); },
                        Authority::Pkcheck(WaitMs, pkcheck));
    std::map<pid_t, std::optional<Authority::Verdict>> verdicts;
    const auto ask = [&](pid_t asker) {
        return authority.confirmAdministrator(
            {1000, asker, 1},
            [&verdicts, asker](const Authority::Answer& answer) { verdicts[asker] = answer.verdict; });
    };
    // The stand-ins that run, each as "asker.pid".
    const auto running = [&] {
        QStringList alive;
        for (const QString& name : QDir(dir.path()).entryList({u"*.*"_s}, QDir::Files)) {
            const QByteArray stat = readBytes(u"/proc/%1/stat"_s.arg(name.section(u'.', 1)));
            if (!stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z")
                alive << name.section(u'.', 0, 0);
        }
        alive.sort();
        return alive.join(u' ');
    };
    // Each asks, and gives up once its pkcheck runs.
    for (pid_t flooder = 201; flooder <= 208; ++flooder) {
        const Authority::Cancel cancel = ask(flooder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return running().endsWith(QString::number(flooder)); }, WaitMs));
        cancel();
    }
    ASSERT_EQ(running(), u"201 202 203 204 205 206 207 208"_s);
    ask(100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdicts[100].has_value(); }, WaitMs));
    EXPECT_EQ(verdicts[100], Authority::Verdict::Granted);
    // The oldest given up made room.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !running().startsWith(u"201"_s); }, WaitMs))
        << running().toStdString();

    // One process: its third question is refused at once.
    ask(300);
    ask(300);
    ask(300);
    EXPECT_EQ(verdicts[300], Authority::Verdict::TooMany);
    ASSERT_TRUE(QTest::qWaitFor([&] { return running().count(u"300"_s) == 2; }, WaitMs))
        << running().toStdString();
    // Eight questions of the user that are still awaited: a ninth is refused, none killed for it.
    for (pid_t asker : {401, 401, 402, 402, 403, 403})
        ask(asker);
    ASSERT_TRUE(QTest::qWaitFor([&] { return running() == u"300 300 401 401 402 402 403 403"_s; }, WaitMs))
        << running().toStdString();
    ask(500);
    EXPECT_EQ(verdicts[500], Authority::Verdict::TooMany);
    EXPECT_EQ(running(), u"300 300 401 401 402 402 403 403"_s);
}
