// The modem itself guarded, against the modem emulator on a pty:
// - a non-root program of the device's group writes a dial command to the modem while the guard's
//   component watches: how many of the calls got a byte through;
// - a root dialler under another name (chat started as "notadialer", the modem opened right before
//   it runs) dials at once: the time from its open to the process gone (DTR dropped before), and how
//   many calls got ATD to the modem.
//
//   bench_modem [CALLS]      (default 50)

#include "BenchTable.h"
#include "ExitTime.h"
#include "ModemLine.h"
#include "dialer/PppDialer.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr gid_t Dialout = 20;

// The component as the guard runs it, the line's modem in its phonebook.
std::unique_ptr<PppDialer> guardFor(const ModemLine& line, const QTemporaryDir& dir) {
    DialerSettings settings;
    settings.backend = DialerSettings::Backend::Ppp;
    settings.phonebook = dir.filePath(QStringLiteral("wvdial.conf"));
    settings.runFolder = dir.filePath(QStringLiteral("run"));
    // The emulator's end of the pty is no call.
    settings.allow = {QStandardPaths::findExecutable(QStringLiteral("socat")),
                      QFileInfo(QStringLiteral(NORVALE_MODEM_EMULATOR)).canonicalFilePath()};
    QFile book(settings.phonebook);
    if (!book.open(QIODevice::WriteOnly))
        return nullptr;
    book.write("[Dialer Defaults]\nModem = " + QFile::encodeName(line.device()) + "\nPhone = 0612345678\n");
    book.close();
    auto dialer = std::make_unique<PppDialer>(settings);
    dialer->SetReportEveryStage(true);
    dialer->SetWatchInterval(100);
    dialer->SetWatchOtherCalls(true);
    // No entry is authorised: every call is hung up on state 2, as the guard does.
    PppDialer* d = dialer.get();
    QObject::connect(d, &DialerControl::Status, d, [d](int state) {
        if (state == DialerControl::ConnectDevice)
            d->HangUp();
    });
    return dialer;
}

int dialCommands(const ModemLine& line) {
    const QStringList received = line.received();
    return int(std::count_if(received.cbegin(), received.cend(),
                             [](const QString& c) { return c.startsWith(QLatin1String("ATD")); }));
}

// A user of the device's group, as the device was before the guard closed it.
void nonRootWriters(int calls) {
    ModemLine line;
    QTemporaryDir dir;
    const QByteArray pty = QFile::encodeName(line.ptyPath());
    if (!line.isReady() || ::chown(pty.constData(), 0, Dialout) != 0 || ::chmod(pty.constData(), 0660) != 0) {
        TableRow("modem, non-root program opening it", "0 got a byte through", false, "no modem line");
        return;
    }
    auto guard = guardFor(line, dir);
    int refused = 0;
    for (int i = 0; i < calls; ++i) {
        QProcess writer;
        writer.start(QStringLiteral("setpriv"),
                     {"--reuid", "65534", "--regid", "65534", "--groups", QString::number(Dialout), "/bin/sh",
                      "-c", "printf 'ATDT0899123456\\r' > " + line.ptyPath()});
        const bool ended = QTest::qWaitFor([&] { return writer.state() == QProcess::NotRunning; }, 5000);
        refused += ended && writer.exitCode() != 0 ? 1 : 0;
    }
    QTest::qWait(200);
    const int through = dialCommands(line);
    std::printf("non-root writers      calls %d  refused %d  dial commands at the modem %d\n", calls, refused,
                through);
    char figure[64];
    std::snprintf(figure, sizeof figure, "modem, non-root program opening it (%d calls)", calls);
    TableRow(figure, "0 got a byte through", through == 0, "%d of %d got a byte through", through, calls);
}

// chat under another name, the modem on its stdin and stdout; the open is the child's last step
// before it runs chat.
pid_t startRenamedChat(const QString& device) {
    const QByteArray path = QFile::encodeName(device);
    const QByteArray chat = QFile::encodeName(chatProgram());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, path.constData(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    char name[] = "notadialer", empty[] = "", dial[] = "ATDT0899123456", ok[] = "OK";
    char* argv[] = {name, empty, dial, ok, empty, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, chat.constData(), &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void rootRenamedDiallers(int calls) {
    std::vector<double> times;
    int reachedDial = 0, missed = 0;
    for (int i = 0; i < calls; ++i) {
        ModemLine line({QStringLiteral("--delay"), QStringLiteral("3000")});
        QTemporaryDir dir;
        auto guard = line.isReady() ? guardFor(line, dir) : nullptr;
        // The guard runs long before a dialler comes: its start-up search is over.
        QTest::qWait(300);
        const auto opened = Clock::now();
        const pid_t pid = guard ? startRenamedChat(line.device()) : -1;
        if (pid <= 0) {
            ++missed;
            continue;
        }
        if (const auto goneAt = ExitTime(pid))
            times.push_back(std::chrono::duration<double, std::milli>(*goneAt - opened).count());
        else
            ++missed;
        QTest::qWait(50);
        reachedDial += dialCommands(line) > 0 ? 1 : 0;
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double worst = times.empty() ? 0 : times.back();
    std::printf("renamed root chat     calls %d  median %7.2f ms  worst %7.2f ms  ATD at the modem in %d  "
                "not stopped %d\n",
                calls, median, worst, reachedDial, missed);
    char measure[120];
    std::snprintf(measure, sizeof measure,
                  "modem, root dialler under another name, open to DTR dropped and gone (%d calls, median / worst)",
                  calls);
    TableRow(measure, "worst < 10 ms", worst < 10.0 && missed == 0, "%.2f / %.2f ms, ATD reached %d of %d", median,
             worst, reachedDial, calls);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    if (::geteuid() != 0) {
        TableRow("modem, closed and watched", "runs as root", false, "not root");
        return 0;
    }
    nonRootWriters(calls);
    rootRenamedDiallers(calls);
    return 0;
}
