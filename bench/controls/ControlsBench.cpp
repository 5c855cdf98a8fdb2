#include "BenchTable.h"

#include "controls/PropertyBag.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Samples = 5000;

double medianMicroseconds(const std::function<void(int)>& step) {
    std::vector<double> times;
    times.reserve(Samples);
    for (int i = 0; i < 200; ++i)
        step(i);
    for (int i = 0; i < Samples; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step(i);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::nth_element(times.begin(), times.begin() + Samples / 2, times.end());
    return times[Samples / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget host;
    host.resize(200, 40);
    auto* vfd = new vfdDisplay(&host);
    vfd->setGeometry(0, 0, 81, 17);
    auto* bar = new quadBar(&host);
    bar->setGeometry(0, 20, 93, 17);
    host.show();

    PropertyBag graph;
    graph.WriteProperty(QStringLiteral("MaxBars"), qint16(20), qint16(10));
    graph.WriteProperty(QStringLiteral("BackGround"), qint32(0), qint32(0x8000000Fu));
    graph.WriteProperty(QStringLiteral("FilledPixel"), true, false);
    graph.WriteProperty(QStringLiteral("PixelsPerBar"), qint16(10), qint16(8));
    vfd->ReadProperties(graph);
    vfd->resize(81, 17);
    // Max 100, cell height 10: a value of 100 lights all 10 cells of every one of the 20 bars.
    const double addValue = medianMicroseconds([vfd](int) { vfd->AddValue(100); });

    PropertyBag level;
    level.WriteProperty(QStringLiteral("BarColor"), qint32(0x008001), quadBar::DefaultBarColor);
    level.WriteProperty(QStringLiteral("HighLightColor"), qint32(0x00FF00), quadBar::DefaultHighLightColor);
    bar->ReadProperties(level);
    bar->resize(94, 17);
    bar->resize(93, 17);
    const double percent = medianMicroseconds([bar](int i) { bar->setPercent(qint16(i % 2 ? 40 : 60)); });

    std::printf("vfdDisplay AddValue, 20 bars x 10 cells lit: median %.1f us (target < 200 us, %d samples)\n",
                addValue, Samples);
    std::printf("quadBar Percent write, 15 segments: median %.1f us (target < 50 us, %d samples)\n", percent,
                Samples);
    TableRow("vfdDisplay AddValue, 20 bars x 10 cells lit (median)", "< 200 us", addValue < 200.0, "%.1f us",
             addValue);
    TableRow("quadBar Percent write (median)", "< 50 us", percent < 50.0, "%.1f us", percent);
    return addValue < 200.0 && percent < 50.0 ? 0 : 1;
}
