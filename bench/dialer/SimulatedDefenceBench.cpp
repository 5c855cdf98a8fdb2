// Another program (norvale-line call) places calls on an entry nobody authorised, against the real
// norvale-guard on its built-in line with no display connected. Prints median and worst, over the
// calls, of the time from the start of the norvale-line process to the guard's hang-up (its log line,
// written right after the hang-up), and of the time from the call reaching the line to the hang-up.
//
// usage: dialer_simulated_bench [CALLS] [STAGE_MS...]   (defaults: 60 calls, stage_ms 0 and 20)

#include "BenchTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Figures {
    std::vector<double> fromStart;  // norvale-line started -> hung up
    std::vector<double> fromPlaced; // the line received the call -> hung up
    int missed = 0;                 // calls that were not hung up at state 2
};

std::pair<double, double> medianAndWorst(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return {n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2, values.back()};
}

void print(const char* what, const std::vector<double>& values) {
    if (values.empty()) {
        std::printf("  %-38s no samples\n", what);
        return;
    }
    const auto [median, worst] = medianAndWorst(values);
    std::printf("  %-38s median %9.3f ms   worst %9.3f ms\n", what, median, worst);
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

QJsonObject lastCall(const QString& folder) {
    QProcess line;
    line.start(QStringLiteral(NORVALE_LINE), {QStringLiteral("--socket"), folder + QStringLiteral("line.sock"),
                                              QStringLiteral("status")});
    line.waitForFinished(5000);
    return QJsonDocument::fromJson(line.readAllStandardOutput())
        .object()
        .value(QStringLiteral("calls"))
        .toArray()
        .last()
        .toObject();
}

Figures run(int calls, int stageMs) {
    Figures figures;
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    {
        QFile book(folder + QStringLiteral("phonebook.conf"));
        QFile conf(folder + QStringLiteral("dialer.conf"));
        if (!book.open(QIODevice::WriteOnly) || !conf.open(QIODevice::WriteOnly))
            return figures;
        book.write("[Dialer Provider]\nPhone = 0245871200\n[Dialer Dialer]\nPhone = 0899123456\n");
        conf.write("stage_ms=" + QByteArray::number(stageMs) + "\n");
    }
    QElapsedTimer clock;
    clock.start();
    qint64 hungUp = 0;
    QProcess guard;
    guard.setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(&guard, &QProcess::readyReadStandardError, [&] {
        while (guard.canReadLine()) {
            if (guard.readLine().contains("hung up a call"))
                hungUp = clock.nsecsElapsed();
        }
    });
    guard.setReadChannel(QProcess::StandardError);
    guard.start(QStringLiteral(NORVALE_GUARD), {"--folder", folder, "--config-dir", folder, "--run-dir", folder});
    if (!waitUntil([&] { return QFile::exists(folder + QStringLiteral("line.sock")); }, 10000)) {
        figures.missed = calls;
        return figures;
    }

    for (int i = 0; i < calls; ++i) {
        hungUp = 0;
        QProcess line;
        const qint64 started = clock.nsecsElapsed();
        line.start(QStringLiteral(NORVALE_LINE), {QStringLiteral("--socket"), folder + QStringLiteral("line.sock"),
                                                  QStringLiteral("call"), QStringLiteral("Dialer")});
        const bool ended = waitUntil([&] { return line.state() == QProcess::NotRunning && hungUp != 0; }, 20000);
        const QJsonObject call = lastCall(folder);
        if (!ended || line.exitCode() != 0 || call.value(QStringLiteral("outcome")).toString() != u"hung-up" ||
            call.value(QStringLiteral("last_state")).toInt() != 2) {
            ++figures.missed;
            line.kill();
            line.waitForFinished(1000);
            continue;
        }
        figures.fromStart.push_back(double(hungUp - started) / 1e6);
        figures.fromPlaced.push_back(call.value(QStringLiteral("hung_up_after_ms")).toDouble());
    }
    guard.terminate();
    guard.waitForFinished(5000);
    return figures;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int calls = args.isEmpty() ? 60 : qMax(1, args.front().toInt());
    QList<int> stages;
    for (qsizetype i = 1; i < args.size(); ++i)
        stages.append(qMax(0, args.at(i).toInt()));
    if (stages.isEmpty())
        stages = {0, 20};

    for (const int stageMs : stages) {
        const Figures figures = run(calls, stageMs);
        std::printf("norvale-guard on its built-in line, no display, stage_ms=%d, %d calls by another program "
                    "(norvale-line call):\n",
                    stageMs, calls);
        print("norvale-line started -> hung up", figures.fromStart);
        print("call placed on the line -> hung up", figures.fromPlaced);
        std::printf("  calls not hung up at state 2: %d\n", figures.missed);
        if (stageMs == stages.front() && !figures.fromStart.empty()) {
            const auto [median, worst] = medianAndWorst(figures.fromStart);
            char measure[160];
            std::snprintf(measure, sizeof measure,
                          "defence, built-in line, no display: norvale-line started -> hung up (%d calls, "
                          "median / worst)",
                          calls);
            TableRow(measure, "worst < 20 ms, none missed", worst < 20.0 && figures.missed == 0, "%.2f / %.2f ms",
                     median, worst);
            const auto [placedMedian, placedWorst] = medianAndWorst(figures.fromPlaced);
            TableRow("defence, built-in line: call placed -> hung up (median / worst)", "worst < 100 ms",
                     placedWorst < 100.0, "%.3f / %.3f ms", placedMedian, placedWorst);
        }
    }
    return 0;
}
