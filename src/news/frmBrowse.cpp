#include "news/frmBrowse.h"

#include "news/NewsBrowser.h"
#include "news/NewsState.h"
#include "news/SetNewsWindowStyle.h"
#include "platform/Convert.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

frmBrowse::frmBrowse(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Browser"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The program lives on in the tray when this is its only window left.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(Twips::ToPixelsX(ClientWidth), Twips::ToPixelsY(ClientHeight));

    Browser = new NewsBrowser(this);
    Browser->setGeometry(rect());
    connect(Browser, &NewsBrowser::NavigateComplete2, this, &frmBrowse::Browser_NavigateComplete2);

    tmrSleep.setInterval(News::state.SleepMs);
    tmrSleep.setSingleShot(true);
    connect(&tmrSleep, &QTimer::timeout, this, &frmBrowse::tmrSleep_Timer);
    tmrDown.setInterval(News::state.DownMs);
    tmrDown.setSingleShot(true);
    connect(&tmrDown, &QTimer::timeout, this, &frmBrowse::tmrDown_Timer);
    slideTimer_.setInterval(News::state.SlideStepMs);
    slideTimer_.setTimerType(Qt::PreciseTimer);
    connect(&slideTimer_, &QTimer::timeout, this, &frmBrowse::slideStep);

    Subs::SetTopMost(*this, true);
}

frmBrowse::~frmBrowse() = default;

void frmBrowse::Navigate(const QString& address) {
    Browser->Navigate(address);
}

void frmBrowse::Browser_NavigateComplete2(const QUrl&) {
    const QRect screen = screenRect();
    left_ = Twips::FromPixelsX(screen.width()) - Twips::FromPixelsX(width());
    placeAt(Twips::FromPixelsY(screen.height()));
    Browser->resize(width(), Browser->height());
    show();
    Subs::SetNewsWindowStyle(*this);
    tmrSleep.start();
}

void frmBrowse::tmrSleep_Timer() {
    tmrSleep.stop();
    startSlide(true);
}

void frmBrowse::tmrDown_Timer() {
    tmrDown.stop();
    startSlide(false);
}

void frmBrowse::startSlide(bool up) {
    slidingUp_ = up;
    step_ = 1;
    slideStep();
}

void frmBrowse::slideStep() {
    if (step_ > slideDistance()) {
        slideTimer_.stop();
        if (slidingUp_) {
            tmrDown.start();
            emit SlidUp();
        } else {
            close();
        }
        return;
    }
    if (slidingUp_)
        placeAt(Twips::FromPixelsY(screenRect().height()) - step_);
    else
        placeAt(top_ + SlideStep);
    step_ += static_cast<int>(SlideStep);
    if (!slideTimer_.isActive())
        slideTimer_.start();
}

void frmBrowse::placeAt(double top) {
    top_ = top;
    const QRect screen = screenRect();
    move(screen.x() + Twips::ToPixelsX(left_), screen.y() + Twips::ToPixelsY(top_));
}

int frmBrowse::slideDistance() const {
    return Convert::ToInt32(Twips::FromPixelsY(height()) + Margin);
}

QRect frmBrowse::screenRect() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

void frmBrowse::closeEvent(QCloseEvent* event) {
    Form_Unload();
    QWidget::closeEvent(event);
}

void frmBrowse::Form_Unload() {
    tmrSleep.stop();
    tmrDown.stop();
    slideTimer_.stop();
    Subs::SetTopMost(*this, false);
    emit Unloaded();
}
