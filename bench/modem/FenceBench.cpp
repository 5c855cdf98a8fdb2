// The modem fenced in the kernel (the device cgroup program), against the modem emulator on a pty:
// - what it costs opens that have nothing to do with the modem (/dev/null, a file), runs with and
//   without the fence interleaved;
// - a root writer outside the guard's cgroup: the time from its refused open to its report in the
//   guard's event loop, and the bytes that reached the modem.
//
//   bench_fence [TRIES]      (default 50); as root

#include "BenchTable.h"
#include "ModemLine.h"
#include "modem/KernelFence.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Nanoseconds per open and close of a path, over a loop long enough to outlast the timer's grain.
double openCost(const char* path, int rounds) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / rounds;
}

// A root process outside the guard's cgroup (moved to the hierarchy's root) writes a dial string;
// returns when it has ended, with the time its open returned.
Clock::time_point rootWriter(const QString& root, const QString& modem) {
    int times[2];
    if (::pipe(times) != 0)
        return Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const QByteArray procs = QFile::encodeName(root + QStringLiteral("/cgroup.procs"));
        const int cg = ::open(procs.constData(), O_WRONLY);
        const QByteArray self = QByteArray::number(::getpid());
        if (cg >= 0 && ::write(cg, self.constData(), size_t(self.size())) > 0)
            ::close(cg);
        const int fd = ::open(QFile::encodeName(modem).constData(), O_WRONLY | O_NOCTTY);
        const auto opened = Clock::now();
        if (fd >= 0)
            (void)!::write(fd, "ATDT0899123456\r", 15);
        (void)!::write(times[1], &opened, sizeof opened);
        ::_exit(fd >= 0 ? 0 : 1);
    }
    ::close(times[1]);
    Clock::time_point opened = Clock::now();
    (void)!::read(times[0], &opened, sizeof opened);
    ::close(times[0]);
    ::waitpid(child, nullptr, 0);
    return opened;
}

QString cgroupRoot() {
    for (const char* path : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"})
        if (QFileInfo::exists(QLatin1String(path) + QStringLiteral("/cgroup.procs")))
            return QLatin1String(path);
    return {};
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int tries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_fence: run it as root\n");
        return 2;
    }
    ModemLine line({QStringLiteral("--dial"), QStringLiteral("silent")});
    QTemporaryDir dir;
    if (!line.isReady() || !dir.isValid())
        return 2;
    const QString run = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(run);
    // A fence outlives its loader: whatever way this ends, none is left on the emulator's pty.
    struct Released {
        QString run;
        ~Released() {
            // Out of the guard's cgroup first, so that it goes too.
            QFile procs(cgroupRoot() + QStringLiteral("/cgroup.procs"));
            if (procs.open(QIODevice::WriteOnly))
                procs.write(QByteArray::number(::getpid()));
            procs.close();
            QString why;
            KernelFence::Release(run, &why);
        }
    } released{run};
    QFile file(dir.filePath(QStringLiteral("file")));
    file.open(QIODevice::WriteOnly);
    file.close();
    const QByteArray filePath = QFile::encodeName(file.fileName());
    QStringList refusedWhy;

    struct stat modem {};
    ::stat(QFile::encodeName(line.device()).constData(), &modem);
    const QList<quint32> fenced{KernelFence::DeviceNumber(major(modem.st_rdev), minor(modem.st_rdev))};

    // Interleaved: the fence up, then down, five times; one loop warms the caches first.
    constexpr int Rounds = 200000;
    openCost("/dev/null", Rounds);
    std::vector<double> nullWith, nullWithout, fileWith, fileWithout;
    for (int i = 0; i < 5; ++i) {
        KernelFence fence(run);
        fence.setDevices(fenced);
        QString why;
        if (!fence.start(&why)) {
            std::fprintf(stderr, "bench_fence: no fence: %s\n", qPrintable(why));
            return 2;
        }
        nullWith.push_back(openCost("/dev/null", Rounds));
        fileWith.push_back(openCost(filePath.constData(), Rounds));
        fence.release();
        nullWithout.push_back(openCost("/dev/null", Rounds));
        fileWithout.push_back(openCost(filePath.constData(), Rounds));
    }
    const double nullCost = 100.0 * (median(nullWith) / median(nullWithout) - 1);
    const double fileCost = 100.0 * (median(fileWith) / median(fileWithout) - 1);
    std::printf("open+close /dev/null: %.0f ns with the fence, %.0f ns without; a file: %.0f / %.0f ns\n",
                median(nullWith), median(nullWithout), median(fileWith), median(fileWithout));

    // Refused opens: the time to their report in the event loop, and the bytes that got through.
    KernelFence fence(run);
    fence.setDevices(fenced);
    QString why;
    if (!fence.start(&why))
        return 2;
    const QString root = cgroupRoot();
    std::vector<double> delays;
    int through = 0;
    for (int i = 0; i < tries; ++i) {
        Clock::time_point reported{};
        QEventLoop wait;
        const auto connection = QObject::connect(&fence, &KernelFence::refused, &wait, [&] {
            reported = Clock::now();
            wait.quit();
        });
        QTimer::singleShot(1000, &wait, &QEventLoop::quit);
        const Clock::time_point opened = rootWriter(root, line.device());
        if (reported == Clock::time_point{})
            wait.exec();
        QObject::disconnect(connection);
        if (reported != Clock::time_point{})
            delays.push_back(std::chrono::duration<double, std::milli>(reported - opened).count());
    }
    QThread::msleep(200);
    for (const QString& received : line.received())
        through += received.contains(QLatin1String("0899123456")) ? 1 : 0;
    fence.release();
    const double worst = delays.empty() ? 1e9 : *std::max_element(delays.begin(), delays.end());

    TableRow("fence, cgroup layer: open+close of /dev/null, with / without (median of 5 x 200,000)", "within 2 %",
             nullCost <= 2.0, "%.0f / %.0f ns (%+.1f %%)", median(nullWith), median(nullWithout), nullCost);
    TableRow("fence, cgroup layer: open+close of a file, with / without (median of 5 x 200,000)", "within 2 %",
             fileCost <= 2.0, "%.0f / %.0f ns (%+.1f %%)", median(fileWith), median(fileWithout), fileCost);
    TableRow("fence: a root writer's refused open to its report in the guard (median / worst)", "worst < 50 ms",
             int(delays.size()) == tries && worst < 50, "%.2f / %.2f ms, %d of %d reported", median(delays), worst,
             int(delays.size()), tries);
    TableRow("fence: dial strings a root writer got to the modem", "0", through == 0, "%d of %d", through, tries);
    return 0;
}
