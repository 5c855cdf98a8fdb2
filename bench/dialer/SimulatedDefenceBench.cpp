// Another program (norvale-line dial) places a call on an entry that is not authorised while a
// handler hangs up on state 2, as the main window does. Prints median and worst, over the calls,
// of the time from the call being placed to the call being gone from the line.
//
// usage: dialer_simulated_bench [CALLS] [STAGE_MS...]   (defaults: 60 calls, stage_ms 0 and 20)

#include "BenchTable.h"

#include "dialer/DialerSettings.h"
#include "dialer/SimulatedDialer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Figures {
    std::vector<double> fromStart;  // norvale-line started -> gone
    std::vector<double> fromPlaced; // the line received the call -> gone
    std::vector<double> fromState2; // state 2 reported -> gone
    int missed = 0;                 // calls that were not hung up at state 2
};

void print(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-34s no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("  %-34s median %9.3f ms   worst %9.3f ms\n", what, median, values.back());
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
    SimulatedDialer dialer(DialerSettings::read(folder), folder);
    dialer.SetWatchOtherCalls(true);
    dialer.SetReportEveryStage(true);
    dialer.SetWatchInterval(100);
    const QSet<QString> authorised{QStringLiteral("Provider")};

    QElapsedTimer clock;
    clock.start();
    qint64 started = 0;
    qint64 state2 = 0;
    qint64 gone = 0;
    QObject::connect(&dialer, &DialerControl::Status, [&](int state) {
        if (state != DialerControl::ConnectDevice)
            return;
        state2 = clock.nsecsElapsed();
        if (!authorised.contains(dialer.EntryName())) {
            dialer.HangUp();
            gone = clock.nsecsElapsed();
        }
    });

    for (int i = 0; i < calls; ++i) {
        state2 = gone = 0;
        QProcess line;
        started = clock.nsecsElapsed();
        line.start(QStringLiteral(NORVALE_LINE), {QStringLiteral("--socket"), dialer.socketPath(),
                                                  QStringLiteral("dial"), QStringLiteral("Dialer")});
        const bool ended = waitUntil([&] { return line.state() == QProcess::NotRunning; }, 20000);
        const bool idle = waitUntil(
            [&] { return dialer.lineStatus().value(QStringLiteral("line")).toString() == u"idle"; }, 20000);
        const QJsonObject call =
            dialer.lineStatus().value(QStringLiteral("calls")).toArray().last().toObject();
        if (!ended || line.exitCode() != 0 || !idle || gone == 0 ||
            call.value(QStringLiteral("last_state")).toInt() != DialerControl::ConnectDevice) {
            ++figures.missed;
            if (!ended)
                line.kill();
            continue;
        }
        figures.fromStart.push_back(double(gone - started) / 1e6);
        figures.fromPlaced.push_back(call.value(QStringLiteral("hung_up_after_ms")).toDouble());
        figures.fromState2.push_back(double(gone - state2) / 1e6);
    }
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
        std::printf("simulated line, stage_ms=%d, %d calls by another program (norvale-line dial), "
                    "hang-up on state 2:\n",
                    stageMs, calls);
        print("norvale-line started -> call gone", figures.fromStart);
        print("call placed on the line -> gone", figures.fromPlaced);
        print("state 2 reported -> call gone", figures.fromState2);
        std::printf("  calls not hung up at state 2: %d\n", figures.missed);
        if (stageMs == stages.front() && !figures.fromPlaced.empty()) {
            std::vector<double> sorted = figures.fromPlaced;
            std::sort(sorted.begin(), sorted.end());
            char measure[120];
            std::snprintf(measure, sizeof measure,
                          "defence, built-in line: call placed -> hung up (%d calls, median / worst)", calls);
            TableRow(measure, "worst < 100 ms, none missed", sorted.back() < 100.0 && figures.missed == 0,
                     "%.3f / %.3f ms", sorted[sorted.size() / 2], sorted.back());
        }
    }
    return 0;
}
