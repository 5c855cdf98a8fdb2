#pragma once

#include <QtGlobal>

#include <optional>

class QLabel;
class QString;
class QWidget;
class quadBar;
class vfdDisplay;

// The strip's traffic: totals, rates, level bars and graphs, fed with the guard's counters at each
// tick of the cycle while a connection is up. The totals of the last tick are kept across
// connections.
class TrafficView final {
public:
    struct Controls {
        QLabel* lblUp;
        QLabel* lblDown;
        QLabel* lblTotUp;
        QLabel* lblTotDw;
        quadBar* barUp;
        quadBar* barDw;
        vfdDisplay* vfdUp;
        vfdDisplay* vfdDw;
    };

    explicit TrafficView(const Controls& controls) : c_(controls) {}

    // The next counters are the previous ones: no rate for a call joined while it was up.
    void TakeNextAsPrevious() { takeAsPrevious_ = true; }
    // Counters read at the guard's time stamp (ms of a monotonic clock), asked for every intervalMs.
    // One that comes more than half an interval late is rated over the time since the last one.
    void Sample(qint32 sent, qint32 received, std::optional<qint64> stampMs, int intervalMs, qint16 lineSpeedUp,
                qint16 lineSpeedDown);
    // No counters any more: the rates, levels and graphs fall to zero; the totals stay.
    void Zero();

private:
    void showRates(float up, float down, qint16 lineSpeedUp, qint16 lineSpeedDown);
    static void describe(const QString& way, const QString& rate, qint16 percent, QWidget* bar,
                         QWidget* graph);

    Controls c_;
    bool takeAsPrevious_ = false;
    std::optional<qint64> lastStamp_;
    float totalSent_ = 0;
    float totalReceived_ = 0;
    float prevSent_ = 0;
    float prevReceived_ = 0;
};
