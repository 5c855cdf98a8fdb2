#include "app/TrafficView.h"

#include "app/Traffic.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "platform/Convert.h"

#include <QLabel>

#include <utility>

void TrafficView::Sample(qint32 sent, qint32 received, int intervalMs, qint16 lineSpeedUp, qint16 lineSpeedDown) {
    totalSent_ = float(sent);
    totalReceived_ = float(received);
    if (std::exchange(takeAsPrevious_, false)) {
        prevSent_ = totalSent_;
        prevReceived_ = totalReceived_;
    }
    c_.lblTotUp->setText(Traffic::TotalText(totalSent_));
    c_.lblTotDw->setText(Traffic::TotalText(totalReceived_));

    const float up = Traffic::Rate(totalSent_, prevSent_, intervalMs);
    const float down = Traffic::Rate(totalReceived_, prevReceived_, intervalMs);
    c_.lblUp->setText(Traffic::RateText(up));
    c_.lblDown->setText(Traffic::RateText(down));
    prevReceived_ = totalReceived_;
    prevSent_ = totalSent_;

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
