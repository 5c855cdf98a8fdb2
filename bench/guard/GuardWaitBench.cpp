// One display's setup waits 5 s for polkit while the same display asks for the counters every
// 500 ms, as its traffic cycle does: prints the longest gap between two of their answers. The
// guard's socket and requests are the real ones; polkit answers after 5 s; the display is socat
// as nobody, whom the guard here counts in group sudo. Run as root.

#include "BenchTable.h"

#include "dialer/CreateDialer.h"
#include "guard/Authority.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "guard/GuardService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int PolkitMs = 5000;
constexpr int CycleMs = 500;

QByteArray request(int id, const char* op) {
    return GuardProtocol::Line({{QStringLiteral("v"), GuardProtocol::Version}, {QStringLiteral("id"), id},
                                {QStringLiteral("op"), QLatin1String(op)}});
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fputs("bench_guard: run as root (the display connects as nobody)\n", stderr);
        return 2;
    }
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString folder = dir.path() + u'/';
    GuardServer server;
    QString why;
    if (!server.listen(folder + QLatin1String(GuardProtocol::SocketName), &why)) {
        std::fprintf(stderr, "bench_guard: %s\n", qPrintable(why));
        return 2;
    }
    const Authority authority([](uid_t uid) { return uid == 65534 ? std::optional(QStringList{"sudo"}) : std::nullopt; },
                              [](const Authority::Peer&, Authority::Done done) {
                                  QTimer::singleShot(PolkitMs, Qt::PreciseTimer,
                                                     [done] { done({.verdict = Authority::Verdict::Granted}); });
                                  return Authority::Cancel();
                              });
    GuardService::Options options;
    options.programFolder = folder;
    options.endProgram = [](int) {};
    GuardService guard(CreateDialer(InstallFolders::InOne(dir.path())), server, authority, options);
    guard.Start();

    QProcess display;
    display.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", "socat", "-",
                                              "UNIX-CONNECT:" + server.path()});
    display.waitForStarted();
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> answers;
    qint64 setupAnswered = -1;
    QObject::connect(&display, &QProcess::readyReadStandardOutput, [&] {
        while (display.canReadLine()) {
            const QJsonObject answer = QJsonDocument::fromJson(display.readLine()).object();
            if (answer.value(QStringLiteral("id")).toInt() == 1)
                setupAnswered = clock.elapsed();
            else if (answer.contains(QStringLiteral("sent")))
                answers.push_back(clock.elapsed());
        }
    });
    display.write(request(1, "setup_open"));
    int id = 1;
    QTimer cycle;
    QObject::connect(&cycle, &QTimer::timeout, [&] { display.write(request(++id, "counters")); });
    cycle.start(CycleMs);
    while (setupAnswered < 0 || clock.elapsed() < setupAnswered + 2 * CycleMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (clock.elapsed() > 4 * PolkitMs)
            break;
    }
    display.kill();
    display.waitForFinished();
    guard.Shutdown();

    qint64 longest = answers.empty() ? clock.elapsed() : answers.front();
    for (size_t i = 1; i < answers.size(); ++i)
        longest = std::max(longest, answers[i] - answers[i - 1]);
    std::printf("  setup answered after %lld ms; %zu counters answers, longest gap %lld ms\n",
                static_cast<long long>(setupAnswered), answers.size(), static_cast<long long>(longest));
    TableRow("guard: longest gap between counters answers to a display whose setup waits 5 s for polkit",
             "< 600 ms", setupAnswered >= PolkitMs - 50 && longest < 600, "%lld ms", static_cast<long long>(longest));
    return 0;
}
