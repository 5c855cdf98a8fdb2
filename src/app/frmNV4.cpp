#include "app/frmNV4.h"

#include "app/GuardClient.h"
#include "app/GuardWatch.h"
#include "app/StripLayout.h"
#include "app/StripMouse.h"
#include "app/Traffic.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "dialogs/frmSetup.h"
#include "guard/GuardProtocol.h"
#include "news/News.h"
#include "news/NewsState.h"
#include "platform/Convert.h"
#include "platform/Gradient.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "settings/Global.h"

#include <QApplication>
#include <QCloseEvent>
#include <QJsonArray>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int VersionMajor = 4;
constexpr int VersionMinor = 3;
constexpr int VersionRevision = 0;

const QString AdministratorOnly = QStringLiteral("\rQuesta azione è permessa solo ad un utente amministratore.");

// What the guard answers instead of an administrator's verdict when polkit could not give one.
QString AuthUnavailableText(const QJsonObject& reply) {
    if (GuardClient::ErrorOf(reply) != GuardProtocol::Error::AuthUnavailable)
        return {};
    return QStringLiteral("Autenticazione non disponibile: ") +
           (reply.value(QStringLiteral("reason")).toString() == GuardProtocol::Unavailable::Timeout
                ? QStringLiteral("tempo scaduto")
                : QStringLiteral("motivo sconosciuto"));
}

// Enabling a timer that already runs leaves its count as it is.
void enable(QTimer* timer) {
    if (!timer->isActive())
        timer->start();
}

} // namespace

frmNV4::frmNV4(Options options, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      barUp(StripLayout::LevelBar(this, QStringLiteral("barUp"), QStringLiteral("Livello upload"), 1380)),
      barDw(StripLayout::LevelBar(this, QStringLiteral("barDw"), QStringLiteral("Livello download"), 2820)),
      vfdUp(StripLayout::Graph(this, QStringLiteral("vfdUp"), QStringLiteral("Grafico upload"), 4200)),
      vfdDw(StripLayout::Graph(this, QStringLiteral("vfdDw"), QStringLiteral("Grafico download"), 5460)),
      cmdSetup(StripLayout::Button(this, QStringLiteral("cmdSetup"), QStringLiteral("S"), QStringLiteral("Impostazioni"),
                                   QStringLiteral("Setup di Norvale"), 6720)),
      cmdMin(StripLayout::Button(this, QStringLiteral("cmdMin"), QStringLiteral("_"), QStringLiteral("Nascondi"),
                                 QStringLiteral("Minimizza nella traybar"), 7020)),
      cmdExit(StripLayout::Button(this, QStringLiteral("cmdExit"), QStringLiteral("X"), QStringLiteral("Esci"),
                                  QStringLiteral("Chiudi Norvale ed esci"), 7320)),
      lblUp(StripLayout::Label(this, QStringLiteral("lblUp"), QStringLiteral("UP"), 1380, 300, 1275, 135, 6)),
      lblDown(StripLayout::Label(this, QStringLiteral("lblDown"), QStringLiteral("DOWN"), 2820, 300, 1275, 135, 6)),
      lblTotUp(StripLayout::Label(this, QStringLiteral("lblTotUp"), QStringLiteral("UP"), 4200, 300, 1215, 135, 6)),
      lblTotDw(StripLayout::Label(this, QStringLiteral("lblTotDw"), QStringLiteral("DOWN"), 5460, 300, 1215, 135, 6)),
      lblStatus(StripLayout::StatusLine(this)),
      tryDialer(new TrayArea(this, std::move(options.notificationArea))), tmrInfo(new QTimer(this)),
      tmrLock(new QTimer(this)), tmrUrl(new QTimer(this)), tmrCycle(new QTimer(this)), options_(std::move(options)),
      guard_(new GuardClient(options_.guardSocket.isEmpty() ? Subs::WithTrailingSlash(options_.dataFolder) +
                                                                  QLatin1String(GuardProtocol::SocketName)
                                                            : options_.guardSocket,
                             this)),
      watch_(new GuardWatch(*guard_, this)),
      mouse_(new StripMouse(*this, {[this](int b, int s, float x, float y) { Form_MouseDown(b, s, x, y); },
                                    [this](int b, int s, float x, float y) { Form_MouseMove(b, s, x, y); },
                                    [this](int b, int s, float x, float y) { Form_MouseUp(b, s, x, y); },
                                    [this] { Form_DblClick(); }})),
      traffic_({lblUp, lblDown, lblTotUp, lblTotDw, barUp, barDw, vfdUp, vfdDw}) {
    setObjectName(QStringLiteral("frmNV4"));
    setWindowTitle(QStringLiteral(" - Norvale 4.0 - www.norvale.example"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(Twips::ToPixelsX(7680), Twips::ToPixelsY(765));

    lblInfo[0] = StripLayout::Label(this, QStringLiteral("lblInfo"), QStringLiteral("Norvale 4.3"), 60, 120, 1275,
                                    255, 8.25);
    mouse_->dragsWith(*lblInfo[0]);
    for (QLabel* label : {lblUp, lblDown, lblTotUp, lblTotDw, lblStatus})
        mouse_->ignores(*label);

    tryDialer->setObjectName(QStringLiteral("tryDialer"));
    tryDialer->setIcon(QIcon(Subs::WithTrailingSlash(options_.dataFolder) + TrayArea::IconFileName));
    tryDialer->setToolTip(QStringLiteral("Norvale 4.3"));

    tmrInfo->setInterval(6000);
    tmrLock->setInterval(2000);
    tmrUrl->setInterval(5000);
    tmrCycle->setInterval(CycleIntervalMs);

    connect(cmdSetup, &QPushButton::clicked, this, &frmNV4::cmdSetup_Click);
    connect(cmdMin, &QPushButton::clicked, this, &frmNV4::cmdMin_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmNV4::cmdExit_Click);
    connect(tmrInfo, &QTimer::timeout, this, &frmNV4::tmrInfo_Timer);
    connect(tmrLock, &QTimer::timeout, this, &frmNV4::tmrLock_Timer);
    connect(tmrUrl, &QTimer::timeout, this, &frmNV4::tmrUrl_Timer);
    connect(tmrCycle, &QTimer::timeout, this, &frmNV4::tmrCycle_Timer);
    connect(tryDialer, &TrayArea::DblClick, this, &frmNV4::tryDialer_DblClick);
    connect(tryDialer, &TrayArea::MouseDown, this, &frmNV4::tryDialer_MouseDown);
    connect(guard_, &GuardClient::Status, this, &frmNV4::rasDial_Status);
    connect(guard_, &GuardClient::Connect, this, &frmNV4::rasDial_Connect);
    connect(guard_, &GuardClient::Disconnect, this, &frmNV4::rasDial_Disconnect);
    connect(guard_, &GuardClient::LastError, this,
            [this](int code, const QString& text) { rasDial_LastError(code, text, 0); });
    connect(guard_, &GuardClient::Notice, this, &frmNV4::ShowStatus);
    connect(guard_, &GuardClient::Saved, this, [this](qint32 start, qint32 end) {
        Global::state.StartColor = start;
        Global::state.EndColor = end;
        paintStrip();
    });
    connect(guard_, &GuardClient::Connected, this, &frmNV4::guardConnected);
    connect(guard_, &GuardClient::Lost, this, &frmNV4::guardLost);
    connect(guard_, &GuardClient::Stopped, this, &frmNV4::guardStopped);
    tmrCycle->start();
}

frmNV4::~frmNV4() {
    delete setup_.data();
}

void frmNV4::createInfoCopy() {
    lblInfo[1] = Subs::RedTitleCopy(*lblInfo[0]);
    mouse_->dragsWith(*lblInfo[1]);
}

// ---- start-up and the guard -----------------------------------------------------------------

void frmNV4::Form_Load() {
    Global::State& state = Global::state;
    state.DigitKeys = QStringLiteral("0123456789") + QChar(13) + QChar(8);
    state.SpeedPresets = {{{10, 14}, {14, 18}, {24, 36}, {18, 80}, {32, 230}, {32, 450}, {0, 0}}};
    state.AppFolder = Subs::WithTrailingSlash(options_.dataFolder);
    News::state.NewsFilePath = options_.newsFile.isEmpty() ? state.AppFolder + QString::fromLatin1(News::NewsFileName)
                                                           : options_.newsFile;
    News::state.NewsUrl.clear();
    const QString ver = Subs::WindowsVersionText(options_.version);
    lblInfo[0]->setToolTip(QStringLiteral("Versione Windows:") +
                           Subs::ReplaceText(ver, QStringLiteral(","), QStringLiteral(".")));
    enable(tmrLock);
    Subs::SetTopMost(*this, true);

    resize(Twips::ToPixelsX(CorniceWidth), Twips::ToPixelsY(CorniceHeight));
    createInfoCopy();
    // The settings are the guard's: the defaults hold until it answers.
    placeAt({Twips::ToPixelsX(100), Twips::ToPixelsY(10)});
    paintStrip();
    News::state.NewsDownloadResult = News::NothingYet;
    PlayCue(QStringLiteral("start.mp3"));
    watch_->Start();
    guard_->Start();
}

void frmNV4::guardConnected(const QJsonObject& snapshot) {
    Global::State& state = Global::state;
    state.StartColor = snapshot.value(QStringLiteral("start_color")).toInt(state.StartColor);
    state.EndColor = snapshot.value(QStringLiteral("end_color")).toInt(state.EndColor);
    // A place the user chose while the guard was away wins over the one it kept.
    if (std::exchange(placeUnsent_, false))
        SavePosition();
    else
        placeAt({Twips::ToPixelsX(snapshot.value(QStringLiteral("left")).toDouble()),
                 Twips::ToPixelsY(snapshot.value(QStringLiteral("top")).toDouble())});
    paintStrip();
    if (snapshot.value(QStringLiteral("connected")).toBool()) {
        // A call that is up already: shown as connected, without the cue or the info strip.
        state.LineSpeedUp = qint16(snapshot.value(QStringLiteral("speed_up")).toInt());
        state.LineSpeedDown = qint16(snapshot.value(QStringLiteral("speed_down")).toInt());
        state.Connected = true;
        traffic_.TakeNextAsPrevious();
        StateConnected(snapshot.value(QStringLiteral("entry")).toString(),
                       snapshot.value(QStringLiteral("ip")).toString());
    } else {
        state.Connected = false;
        // The outage's text goes: the call it may have left standing ended meanwhile, or what the
        // status line said before is true again.
        if (std::exchange(connectedWhenLost_, false))
            ShowStatus(QStringLiteral("Disconnected."));
        else if (state.StatusText == QString::fromUtf8(GuardWatch::AwayText))
            restoreStatus(statusBeforeLoss_);
    }
}

// A stopped service may leave the call standing, so nothing says it ended: the traffic falls to
// zero, since nobody counts it any more, and the status line says why.
void frmNV4::guardLost() {
    Global::State& state = Global::state;
    connectedWhenLost_ = std::exchange(state.Connected, false);
    if (connectedWhenLost_)
        traffic_.Zero();
    statusBeforeLoss_ = {state.StatusText, tryDialer->ToolTip(), lblInfo[0]->toolTip(), lblStatus->text()};
    ShowStatus(QString::fromUtf8(GuardWatch::AwayText));
    if (setup_)
        setup_->close();
}

void frmNV4::guardStopped() {
    Subs::SetTopMost(*this, false);
    Form_Unload();
}

void frmNV4::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    watch_->Stop();
    for (QTimer* timer : {tmrInfo, tmrLock, tmrUrl, tmrCycle})
        timer->stop();
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
    hide();
    tryDialer->setVisible(false);
    if (options_.endProgram)
        options_.endProgram();
    else
        QCoreApplication::exit(0);
}

void frmNV4::closeEvent(QCloseEvent* event) {
    // A close asked by the window manager (Alt+F4) goes through the exit button's test and
    // question: only an administrator may end the guard.
    event->ignore();
    if (!unloaded_)
        cmdExit_Click();
}

void frmNV4::tmrLock_Timer() {
    tmrLock->stop();
    cmdSetup->setEnabled(true);
    cmdMin->setEnabled(true);
    cmdExit->setEnabled(true);
}

void frmNV4::tmrUrl_Timer() {
    tmrUrl->stop();
    News::StartDownload();
}

// ---- buttons ------------------------------------------------------------------------------

void frmNV4::ShowRefusal(const QString& text) {
    MessageBox::Show(text, MessageBox::Buttons::Ok, MessageBox::Icon::None, MessageBox::Button::Ok,
                     QStringLiteral("Norvale"), this);
}

void frmNV4::cmdExit_Click() {
    const QString refusal = QStringLiteral("Non puoi chiudere Norvale.") + AdministratorOnly;
    if (!options_.isAdministrator() && !guard_->TrustsAsAdministrator())
        return ShowRefusal(refusal);
    const MessageBox::Button answer =
        MessageBox::Show(QStringLiteral("Desideri chiudere Norvale?"), MessageBox::Buttons::YesNo,
                         MessageBox::Icon::Question, MessageBox::Button::No, QStringLiteral(" Uscire"), this);
    if (answer == MessageBox::Button::No)
        return;
    // Without a guard there is only the display to close.
    if (!guard_->IsConnected())
        return Form_Unload();
    guard_->Stop([this, refusal](const QJsonObject& reply) {
        if (const QString unavailable = AuthUnavailableText(reply); !unavailable.isEmpty())
            ShowRefusal(unavailable);
        else if (GuardClient::ErrorOf(reply) == GuardProtocol::Error::Refused)
            ShowRefusal(refusal);
    });
}

void frmNV4::cmdSetup_Click() {
    const QString refusal = QStringLiteral("Non puoi Accedere ai settaggi.") + AdministratorOnly;
    if (!options_.isAdministrator() && !guard_->TrustsAsAdministrator())
        return ShowRefusal(refusal);
    if (setup_) {
        setup_->show();
        setup_->raise();
        return;
    }
    if (!guard_->IsConnected())
        return ShowAway();
    guard_->OpenSetup([this, refusal](const QJsonObject& reply) {
        const QString error = GuardClient::ErrorOf(reply);
        if (const QString unavailable = AuthUnavailableText(reply); !unavailable.isEmpty())
            return ShowRefusal(unavailable);
        if (error == GuardProtocol::Error::Unreachable)
            return ShowAway();
        if (error == GuardProtocol::Error::Refused)
            return ShowRefusal(refusal);
        if (error == GuardProtocol::Error::Busy)
            return ShowRefusal(QStringLiteral("Il setup di Norvale è già aperto in un'altra sessione."));
        if (!GuardClient::Succeeded(reply) || setup_ || unloaded_)
            return;
        QStringList entries;
        for (const QJsonValue& entry : reply.value(QStringLiteral("entries")).toArray())
            entries << entry.toString();
        // The guard's colours: another display may have changed them since this one heard.
        Global::State& state = Global::state;
        state.StartColor = reply.value(QStringLiteral("start_color")).toInt(state.StartColor);
        state.EndColor = reply.value(QStringLiteral("end_color")).toInt(state.EndColor);
        setup_ = new frmSetup(*guard_, this);
        setup_->setAttribute(Qt::WA_DeleteOnClose);
        setup_->Form_Load(entries);
        setup_->show();
    });
}

void frmNV4::cmdMin_Click() {
    Subs::SetTopMost(*this, false);
    if (!tryDialer->TrayAvailable()) {
        keepReachable("minimise");
        return;
    }
    hideToTray();
}

// Hidden without a notification area the window could never come back.
void frmNV4::keepReachable(const char* why) {
    std::fprintf(stderr,
                 "Norvale: no notification area on this desktop; the window stays on the screen instead of "
                 "hiding (%s).\n",
                 why);
    std::fflush(stderr);
}

void frmNV4::hideToTray() {
    hide();
    tryDialer->setVisible(true);
}

void frmNV4::Restore() {
    if (!isVisible()) {
        move(place_);
        show();
        // The window manager may place a window that changed size while hidden at the screen's
        // corner: once it has placed it, put it back where it stood.
        QTimer::singleShot(100, this, [this] {
            if (isVisible() && pos() != place_)
                move(place_);
        });
    }
    Subs::SetTopMost(*this, true);
    tryDialer->setVisible(false);
}

void frmNV4::tryDialer_DblClick() {
    Restore();
}

void frmNV4::tryDialer_MouseDown(int button, int, float x, float y) {
    if (button == 2 && hooks_.PopupTrayMenu)
        hooks_.PopupTrayMenu(x, y);
}

// ---- dragging and the status area ---------------------------------------------------------

// The window's place is the one the program gave it. Qt's own idea of a frameless window's
// position can be the frame-relative (0, 0) under a reparenting window manager, so it is not read
// back.
void frmNV4::placeAt(QPoint place) {
    // X11 places windows in 16 bits; a hand-edited place beyond them would overflow the geometry.
    place = {std::clamp(place.x(), -32768, 32767), std::clamp(place.y(), -32768, 32767)};
    place_ = place;
    move(place);
}

double frmNV4::LeftTwips() const {
    return Twips::FromPixelsX(place_.x());
}
double frmNV4::TopTwips() const {
    return Twips::FromPixelsY(place_.y());
}

void frmNV4::Form_MouseDown(int, int, float, float) {
    dragFrom_ = mouse_->OnScreen();
    dragPlace_ = place_;
    dragging_ = true;
}

void frmNV4::Form_MouseMove(int button, int, float, float) {
    if (button != 1 || !dragging_)
        return;
    placeAt(dragPlace_ + (mouse_->OnScreen() - dragFrom_).toPoint());
}

void frmNV4::Form_MouseUp(int, int, float, float) {
    dragging_ = false;
    SavePosition();
}

void frmNV4::SavePosition() {
    placeUnsent_ = !guard_->IsConnected();
    if (!placeUnsent_)
        guard_->SavePosition(TopTwips(), LeftTwips());
}

void frmNV4::Form_DblClick() {
    RepaintMain();
    enable(tmrInfo);
}

void frmNV4::tmrInfo_Timer() {
    tmrInfo->stop();
    tryDialer->setToolTip(
        QStringLiteral("Norvale %1.%2.%3").arg(VersionMajor).arg(VersionMinor).arg(VersionRevision));
    resize(width(), Twips::ToPixelsY(CorniceHeight));
}

void frmNV4::RepaintMain() {
    resize(width(), Twips::ToPixelsY(BottomLineY));
    paintStrip();
}

void frmNV4::paintStrip() {
    Global::PaintGradient(*this, Global::state.StartColor, Global::state.EndColor);
}

// ---- the window as a gradient target ------------------------------------------------------

double frmNV4::Height() const {
    return Twips::FromPixelsY(height());
}
double frmNV4::Width() const {
    return Twips::FromPixelsX(width());
}

void frmNV4::Line(double x1, double y1, double x2, double y2, qint32 colour) {
    Global::DrawLineInTwips(picture_, size(), Qt::black, x1, y1, x2, y2, colour);
    update();
}

void frmNV4::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, picture_);
    // shpCornice: the frame of the collapsed strip.
    painter.setPen(Global::ToQColor(qint32(0x80000008u)));
    painter.drawRect(0, 0, Twips::ToPixelsX(CorniceWidth) - 1, Twips::ToPixelsY(CorniceHeight) - 1);
}

// ---- connection events, after the guard's decisions ---------------------------------------

void frmNV4::ShowStatus(const QString& text) {
    Global::state.StatusText = text;
    tryDialer->setToolTip(text);
    lblInfo[0]->setToolTip(text);
    lblStatus->setText(text);
    // lblStatus_Change
    enable(tmrInfo);
}

void frmNV4::restoreStatus(const QStringList& shown) {
    Global::state.StatusText = shown.value(0);
    tryDialer->setToolTip(shown.value(1));
    lblInfo[0]->setToolTip(shown.value(2));
    lblStatus->setText(shown.value(3));
}

void frmNV4::rasDial_Status(int state, const QString& ip) {
    if (height() != Twips::ToPixelsY(BottomLineY))
        RepaintMain();
    ShowStatus(Traffic::StatusText(state, ip));
}

// A call on an entry the guard found unauthorised is hung up there: only the cue is heard.
void frmNV4::rasDial_Connect(bool authorised, const QString& entry, const QString& ip, int speedUp,
                             int speedDown) {
    PlayCue(QStringLiteral("connected.mp3"));
    if (!authorised)
        return;
    Global::State& state = Global::state;
    state.LineSpeedUp = qint16(speedUp);
    state.LineSpeedDown = qint16(speedDown);
    state.Connected = true;
    StateConnected(entry, ip);
    showInfo(QStringLiteral("Connesso. IP: ") + ip, 18);
}

void frmNV4::StateConnected(const QString& entry, const QString& ip) {
    RepaintMain();
    ShowStatus(QStringLiteral("Connesso con ") + entry + QStringLiteral(" IP:") + ip);
    vfdDw->setMax(Global::state.LineSpeedDown);
    vfdUp->setMax(Global::state.LineSpeedUp);
}

void frmNV4::rasDial_Disconnect() {
    PlayCue(QStringLiteral("disconnected.mp3"));
    RepaintMain();
    ShowStatus(QStringLiteral("Disconnected."));
    Global::state.Connected = false;
    showInfo(QStringLiteral("DISCONNESSIONE"), 18);
}

void frmNV4::rasDial_LastError(int errorCode, const QString& errorString, int) {
    if (errorCode > 24999)
        errorCode -= 25000;
    PlayCue(QStringLiteral("error.mp3"));
    RepaintMain();
    ShowStatus(QStringLiteral("Codice errore: ") + Convert::NumberText(errorCode) + QStringLiteral(" - ") +
               errorString);
    if (Global::state.CycleStarted)
        showInfo(Global::state.StatusText, 8);
}

void frmNV4::ShowAway() {
    showInfo(QString::fromUtf8(GuardWatch::AwayText), 8);
}

void frmNV4::PlayCue(const QString& fileName) {
    if (hooks_.PlaySound)
        hooks_.PlaySound(Global::state.AppFolder + fileName);
}

void frmNV4::showInfo(const QString& text, float size) {
    if (hooks_.ShowInfo)
        hooks_.ShowInfo(text, size);
}

// ---- traffic cycle ------------------------------------------------------------------------

void frmNV4::tmrCycle_Timer() {
    Global::State& state = Global::state;
    state.CycleStarted = true;

    if (startTicks_ < 5) {
        ++startTicks_;
        if (startTicks_ == 5) {
            if (tryDialer->TrayAvailable()) {
                hideToTray();
            } else {
                keepReachable("start-up");
            }
        }
    }

    News::CycleOpenPage();
    if (hooks_.CheckSoundEnd)
        hooks_.CheckSoundEnd();
    News::CycleReadFile();

    // The counters are the guard's: asked for now, shown when they come.
    if (!state.Connected || countersAsked_)
        return;
    countersAsked_ = true;
    guard_->Counters([this](const QJsonObject& reply) {
        countersAsked_ = false;
        const Global::State& state = Global::state;
        const QJsonValue stamp = reply.value(QStringLiteral("ms"));
        if (reply.value(QStringLiteral("online")).toBool() && state.Connected)
            traffic_.Sample(reply.value(QStringLiteral("sent")).toInt(), reply.value(QStringLiteral("received")).toInt(),
                            stamp.isDouble() ? std::optional(qint64(stamp.toDouble())) : std::nullopt,
                            tmrCycle->interval(), state.LineSpeedUp, state.LineSpeedDown);
    });
}
