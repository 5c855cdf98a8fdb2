#include "tray/frmInfo.h"

#include "platform/Accessibility.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "tray/TrayState.h"

#include <QLabel>
#include <QPainter>
#include <QTimer>

frmInfo::frmInfo(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint),
      Label1(new QLabel(QStringLiteral(" Norvale 4.2"), this)), lblInfo(new QLabel(this)),
      tmrInfo(new QTimer(this)) {
    setObjectName(QStringLiteral("frmInfo"));
    setWindowTitle(QStringLiteral("Norvale"));
    // A passing message: it must not take the keyboard from what the user is doing.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(Twips::ToPixelsX(ClientWidth), Twips::ToPixelsY(ClientHeight));

    const QColor back = Global::ToQColor(BackColour);
    const QColor blue = Global::ToQColor(BlueColour);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, back);
    palette.setColor(QPalette::WindowText, blue);
    setPalette(palette);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(Subs::InterfaceFont(8.25));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setAutoFillBackground(true);
    Label1->setGeometry(Twips::Rect(240, 0, 1215, 195));

    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    // Status texts come from the line and other programs: shown as they are, never as markup.
    lblInfo->setTextFormat(Qt::PlainText);
    // Read out as it shows, and again at each new text.
    Accessibility::SetRole(*lblInfo, QAccessible::AlertMessage);
    lblInfo->setFont(Subs::InterfaceFont(18));
    lblInfo->setAlignment(Qt::AlignCenter);
    // A long text wraps over the label's height instead of being cut at both ends.
    lblInfo->setWordWrap(true);
    QPalette text = lblInfo->palette();
    text.setColor(QPalette::WindowText, Qt::black);
    lblInfo->setPalette(text);
    lblInfo->setGeometry(Twips::Rect(360, 120, 6315, 435));

    tmrInfo->setObjectName(QStringLiteral("tmrInfo"));
    tmrInfo->setSingleShot(true);
    // Three seconds, not three give or take the 5 % a coarse timer may shift.
    tmrInfo->setTimerType(Qt::PreciseTimer);
    tmrInfo->setInterval(Tray::state.InfoLifeMs);
    connect(tmrInfo, &QTimer::timeout, this, &frmInfo::tmrInfo_Timer);
}

frmInfo::~frmInfo() = default;

void frmInfo::Form_Load() {
    Subs::CentreWindow(*this);
    Subs::SetTopMost(*this, true);
    tmrInfo->start();
}

void frmInfo::tmrInfo_Timer() {
    tmrInfo->stop();
    Subs::SetTopMost(*this, false);
    // The next ShowInfo opens a new strip, even before this one is deleted.
    if (Tray::state.Info == this)
        Tray::state.Info = nullptr;
    hide();
    deleteLater();
}

void frmInfo::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Global::ToQColor(BackColour));
    // Shape1: the blue frame.
    painter.setPen(Global::ToQColor(BlueColour));
    painter.drawRect(Twips::Rect(60, 60, 6975, 615).adjusted(0, 0, -1, -1));
}
