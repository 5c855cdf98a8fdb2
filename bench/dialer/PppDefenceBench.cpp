// Another program dials an entry nobody authorised: chat against the modem emulator, started
// outside the component. A handler hangs up on state 2, as the main window does. For each call:
// the time from starting chat to chat being gone, and whether the modem had received the dial
// command by then. Run once with the process-event connector and once with the /proc scan.
//
//   bench_dialer_ppp [CALLS]      (default 50)

#include "BenchTable.h"
#include "ExitTime.h"
#include "ModemLine.h"
#include "dialer/PppDialer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Call {
    double goneMs = -1;
    bool reachedInit = false;
    bool reachedDial = false;
};

// Starts chat with the modem on stdin and stdout, as a dialer would.
pid_t startChat(const QString& device, const QString& script) {
    const QByteArray path = QFile::encodeName(device);
    const int in = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    const int out = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    const QByteArray scriptPath = QFile::encodeName(script);
    const QByteArray chat = QFile::encodeName(chatProgram());
    char v[] = "-v";
    char f[] = "-f";
    char* argv[] = {const_cast<char*>(chat.constData()), v, f, const_cast<char*>(scriptPath.constData()),
                    nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, chat.constData(), &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in);
    ::close(out);
    return pid;
}

Call placeCall(const QString& script) {
    // The far end answers slowly: a call that is not stopped connects after three seconds.
    ModemLine line({QStringLiteral("--delay"), QStringLiteral("3000")});
    Call call;
    if (!line.isReady())
        return call;
    const auto placed = Clock::now();
    const pid_t pid = startChat(line.device(), script);
    if (pid <= 0)
        return call;
    if (const auto goneAt = ExitTime(pid))
        call.goneMs = std::chrono::duration<double, std::milli>(*goneAt - placed).count();
    // chat types 10 ms per character: a command counts once its carriage return arrived.
    for (const QString& command : line.received()) {
        call.reachedInit = true;
        if (command.startsWith(QLatin1String("ATD")))
            call.reachedDial = true;
    }
    return call;
}

void run(const char* label, bool useConnector, int calls, const QString& script) {
    DialerSettings settings;
    settings.backend = DialerSettings::Backend::Ppp;
    // A run folder of its own: a running guard's call is not this component's to take.
    QTemporaryDir runFolder;
    settings.runFolder = runFolder.path();
    PppDialer dialer(settings);
    dialer.SetUseProcessEvents(useConnector);
    dialer.SetReportEveryStage(true);
    dialer.SetWatchInterval(100);
    dialer.SetWatchOtherCalls(true);
    if (useConnector && !dialer.UsesProcessEvents()) {
        std::printf("%-24s not available (needs CAP_NET_ADMIN)\n", label);
        TableRow("defence, real line, process-event connector", "worst < 10 ms, before ATD", false,
                 "not available (needs CAP_NET_ADMIN)");
        return;
    }
    // No entry is authorised: every call is hung up on state 2.
    QObject::connect(&dialer, &DialerControl::Status, [&](int state) {
        if (state == DialerControl::ConnectDevice)
            dialer.HangUp();
    });

    std::vector<double> times;
    int missed = 0;
    int reachedDial = 0;
    int reachedInit = 0;
    for (int i = 0; i < calls; ++i) {
        const Call c = placeCall(script);
        if (c.goneMs < 0)
            ++missed;
        else
            times.push_back(c.goneMs);
        reachedDial += c.reachedDial ? 1 : 0;
        reachedInit += c.reachedInit ? 1 : 0;
        // Let the second SIGKILL chance and the exit reports of this call pass.
        QTest::qWait(20);
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double worst = times.empty() ? 0 : times.back();
    std::printf(
        "%-24s calls %d  median %7.2f ms  worst %7.2f ms  modem got ATZ in %d, ATD in %d  not stopped %d\n",
        label, calls, median, worst, reachedInit, reachedDial, missed);
    std::fflush(stdout);
    char measure[120];
    std::snprintf(measure, sizeof measure, "defence, real line, %s (%d calls, median / worst)", label, calls);
    if (useConnector)
        TableRow(measure, "worst < 10 ms, before ATD", worst < 10.0 && reachedDial == 0 && missed == 0,
                 "%.2f / %.2f ms, ATD reached %d", median, worst, reachedDial);
    else
        TableRow(measure, "worst < 100 ms", worst < 100.0 && missed == 0, "%.2f / %.2f ms", median, worst);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("script"));
    QFile f(script);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write("ABORT BUSY\n'' ATZ\nOK ATDT0899123456\nCONNECT ''\n");
    f.close();

    std::printf(
        "Another program's chat on an unauthorised entry, hung up on state 2 (watch interval 100 ms)\n");
    run("process-event connector", true, calls, script);
    run("/proc scan", false, calls, script);
    return 0;
}
