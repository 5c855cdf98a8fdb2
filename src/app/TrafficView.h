#pragma once

#include <QtGlobal>

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
    void Sample(qint32 sent, qint32 received, int intervalMs, qint16 lineSpeedUp, qint16 lineSpeedDown);

private:
    static void describe(const QString& way, const QString& rate, qint16 percent, QWidget* bar,
                         QWidget* graph);

    Controls c_;
    bool takeAsPrevious_ = false;
    float totalSent_ = 0;
    float totalReceived_ = 0;
    float prevSent_ = 0;
    float prevReceived_ = 0;
};
