#include "app/TrafficView.h"

#include "app/Traffic.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "platform/Convert.h"

#include <QLabel>

#include <algorithm>
#include <limits>
#include <utility>

void TrafficView::Sample(qint32 sent, qint32 received, std::optional<qint64> stampMs, int intervalMs,
                         qint16 lineSpeedUp, qint16 lineSpeedDown) {
    totalSent_ = float(sent);
    totalReceived_ = float(received);
    if (std::exchange(takeAsPrevious_, false)) {
        prevSent_ = totalSent_;
        prevReceived_ = totalReceived_;
    }
    c_.lblTotUp->setText(Traffic::TotalText(totalSent_));
    c_.lblTotDw->setText(Traffic::TotalText(totalReceived_));

    // A stalled guard or a busy machine: the bytes of the whole gap would show as one interval's.
    int interval = intervalMs;
    if (stampMs && lastStamp_ && *stampMs - *lastStamp_ > intervalMs + intervalMs / 2)
        interval = int(std::min<qint64>(*stampMs - *lastStamp_, std::numeric_limits<int>::max()));
    lastStamp_ = stampMs;
    const float up = Traffic::Rate(totalSent_, prevSent_, interval);
    const float down = Traffic::Rate(totalReceived_, prevReceived_, interval);
    prevReceived_ = totalReceived_;
    prevSent_ = totalSent_;
    showRates(up, down, lineSpeedUp, lineSpeedDown);
}

void TrafficView::Zero() {
    showRates(0, 0, 1, 1);
}

void TrafficView::showRates(float up, float down, qint16 lineSpeedUp, qint16 lineSpeedDown) {
    c_.lblUp->setText(Traffic::RateText(up));
    c_.lblDown->setText(Traffic::RateText(down));
    c_.barUp->setPercent(Traffic::LevelOf(up, lineSpeedUp));
    c_.barDw->setPercent(Traffic::LevelOf(down, lineSpeedDown));
    c_.vfdUp->AddValue(Convert::ToInt32(up));
    c_.vfdDw->AddValue(Convert::ToInt32(down));
    describe(QStringLiteral("Upload "), c_.lblUp->text(), c_.barUp->Percent(), c_.barUp, c_.vfdUp);
    describe(QStringLiteral("Download "), c_.lblDown->text(), c_.barDw->Percent(), c_.barDw, c_.vfdDw);
}

// What a screen reader says of a bar and its graph: the rate as the strip shows it, and the level.
void TrafficView::describe(const QString& way, const QString& rate, qint16 percent, QWidget* bar,
                           QWidget* graph) {
    const QString text =
        way + rate + QStringLiteral("/s, ") + QString::number(percent) + QStringLiteral(" %");
    bar->setAccessibleDescription(text);
    graph->setAccessibleDescription(text);
}
