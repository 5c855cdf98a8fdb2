#include "app/frmNV4.h"

#include "news/News.h"
#include "news/NewsState.h"

#include "controls/PropertyBag.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "dialogs/frmSetup.h"
#include "platform/Convert.h"
#include "platform/Gradient.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "dialer/DialerControl.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/PrivateProfile.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int VersionMajor = 4;
constexpr int VersionMinor = 3;
constexpr int VersionRevision = 0;

const QString GeneralSetup = QStringLiteral("General Setup");

// "Small Fonts" and "MS Sans Serif" have no counterpart on Linux; a small sans-serif stands in.
QFont interfaceFont(double pointSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(pointSize);
    return font;
}

QRect twipsRect(int left, int top, int width, int height) {
    return {Twips::ToPixelsX(left), Twips::ToPixelsY(top), Twips::ToPixelsX(width), Twips::ToPixelsY(height)};
}

int buttonOf(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int buttonsOf(Qt::MouseButtons buttons) {
    return (buttons.testFlag(Qt::LeftButton) ? 1 : 0) | (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
           (buttons.testFlag(Qt::MiddleButton) ? 4 : 0);
}

// Enabling a timer that already runs leaves its count as it is.
void enable(QTimer* timer) {
    if (!timer->isActive())
        timer->start();
}

float xTwips(const QMouseEvent& event) {
    return float(event.position().x() * Twips::PerPixelX());
}
float yTwips(const QMouseEvent& event) {
    return float(event.position().y() * Twips::PerPixelY());
}

// Thousands always grouped, with the grouping mark and decimal sign of the user's locale.
QString grouped(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

QString totalText(float total) {
    const double value = total;
    if (value > 1e9)
        return grouped(value / 1e9, 3) + QStringLiteral(" GB");
    if (value > 1e6)
        return grouped(value / 1e6, 3) + QStringLiteral(" MB");
    return grouped(value / 1e3, 3) + QStringLiteral(" KB");
}

// Share of the line speed in percent, for a level bar. A line speed of 0 or below shows no
// level; a level beyond the bar's 16 bits stops at its limit.
qint16 levelOf(float rate, qint16 lineSpeed) {
    if (lineSpeed <= 0)
        return 0;
    const double percent = double(rate) / lineSpeed * 100.0;
    return percent > 0 ? Convert::ToInt16(percent) : qint16(0);
}

// Loading the setup dialog compared the phonebook with a table that was still empty. Compare
// again with the rows just read, so that an authorised entry whose number was changed while the
// program was not running loses its authorisation before anyone can dial it. An entry the
// phonebook does not hold has nothing to compare with and keeps its row as it is. The phonebook
// is not locked yet at this point of start-up.
void revokeChangedNumbers(DialerControl& dialer) {
    Global::State& state = Global::state;
    for (int i = 0; i < state.ConnectionCount; ++i) {
        ConnectionRecord& row = state.ConnectionTable[i];
        if (!row.Authorised)
            continue;
        if (dialer.SelectEntry(row.Name) != DialerControl::Done)
            continue;
        if (dialer.EntryNumber() != row.Number)
            row.Authorised = false;
    }
}

} // namespace

frmNV4::frmNV4(std::unique_ptr<DialerControl> dialer, Options options, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      barUp(new quadBar(this)), barDw(new quadBar(this)), vfdUp(new vfdDisplay(this)),
      vfdDw(new vfdDisplay(this)), cmdSetup(makeButton(QStringLiteral("cmdSetup"), QStringLiteral("S"),
                                                       QStringLiteral("Setup di Norvale"), 6720)),
      cmdMin(makeButton(QStringLiteral("cmdMin"), QStringLiteral("_"),
                        QStringLiteral("Minimizza nella traybar"), 7020)),
      cmdExit(makeButton(QStringLiteral("cmdExit"), QStringLiteral("X"),
                         QStringLiteral("Chiudi Norvale ed esci"), 7320)),
      lblUp(makeLabel(QStringLiteral("lblUp"), QStringLiteral("UP"), 1380, 300, 1275, 135, 6)),
      lblDown(makeLabel(QStringLiteral("lblDown"), QStringLiteral("DOWN"), 2820, 300, 1275, 135, 6)),
      lblTotUp(makeLabel(QStringLiteral("lblTotUp"), QStringLiteral("UP"), 4200, 300, 1215, 135, 6)),
      lblTotDw(makeLabel(QStringLiteral("lblTotDw"), QStringLiteral("DOWN"), 5460, 300, 1215, 135, 6)),
      lblStatus(
          makeLabel(QStringLiteral("lblStatus"), QStringLiteral("Informazioni"), 0, 525, 7335, 195, 6.75)),
      tryDialer(new TrayArea(this, std::move(options.notificationArea))), tmrInfo(new QTimer(this)),
      tmrLock(new QTimer(this)), tmrUrl(new QTimer(this)), tmrCycle(new QTimer(this)),
      rasDial_(std::move(dialer)), options_(std::move(options)) {
    setObjectName(QStringLiteral("frmNV4"));
    setWindowTitle(QStringLiteral(" - Norvale 4.0 - www.norvale.example"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(Twips::ToPixelsX(7680), Twips::ToPixelsY(765));

    lblInfo[0] =
        makeLabel(QStringLiteral("lblInfo"), QStringLiteral("Norvale 4.3"), 60, 120, 1275, 255, 8.25);

    PropertyBag level;
    level.WriteProperty(QStringLiteral("Percent"), qint16(10), qint16(0));
    level.WriteProperty(QStringLiteral("BarColor"), qint32(0x008001), quadBar::DefaultBarColor);
    level.WriteProperty(QStringLiteral("HighLightColor"), qint32(0x00FF00), quadBar::DefaultHighLightColor);
    PropertyBag graph;
    graph.WriteProperty(QStringLiteral("MaxBars"), qint16(20), qint16(10));
    graph.WriteProperty(QStringLiteral("BackGround"), qint32(0), qint32(0x8000000Fu));
    graph.WriteProperty(QStringLiteral("FilledPixel"), true, false);
    graph.WriteProperty(QStringLiteral("PixelsPerBar"), qint16(10), qint16(8));
    graph.WriteProperty(QStringLiteral("Min"), qint32(1), qint32(1));
    const std::array<std::pair<quadBar*, int>, 2> bars{{{barUp, 1380}, {barDw, 2820}}};
    for (const auto& [bar, left] : bars) {
        bar->ReadProperties(level);
        bar->setGeometry(twipsRect(left, 60, 1395, 255));
    }
    const std::array<std::pair<vfdDisplay*, int>, 2> graphs{{{vfdUp, 4200}, {vfdDw, 5460}}};
    for (const auto& [vfd, left] : graphs) {
        vfd->ReadProperties(graph);
        vfd->setGeometry(twipsRect(left, 60, 1215, 255));
    }
    barUp->setObjectName(QStringLiteral("barUp"));
    barDw->setObjectName(QStringLiteral("barDw"));
    vfdUp->setObjectName(QStringLiteral("vfdUp"));
    vfdDw->setObjectName(QStringLiteral("vfdDw"));

    tryDialer->setObjectName(QStringLiteral("tryDialer"));
    tryDialer->setIcon(QIcon(Subs::WithTrailingSlash(options_.programFolder) + TrayArea::IconFileName));
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
    connect(rasDial_.get(), &DialerControl::Status, this, &frmNV4::rasDial_Status);
    connect(rasDial_.get(), &DialerControl::Connect, this, &frmNV4::rasDial_Connect);
    connect(rasDial_.get(), &DialerControl::Disconnect, this, &frmNV4::rasDial_Disconnect);
    connect(rasDial_.get(), &DialerControl::LastError, this, &frmNV4::rasDial_LastError);

    Global::state.RepaintHook = [this] {
        Global::PaintGradient(*this, Global::state.StartColor, Global::state.EndColor);
    };
    tmrCycle->start();
}

frmNV4::~frmNV4() {
    Global::state.RepaintHook = nullptr;
    delete setup_.data();
}

QLabel* frmNV4::makeLabel(const QString& name, const QString& caption, int left, int top, int width,
                          int height, double pointSize) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setFont(interfaceFont(pointSize));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(twipsRect(left, top, width, height));
    label->installEventFilter(this);
    return label;
}

QPushButton* frmNV4::makeButton(const QString& name, const QString& caption, const QString& toolTip,
                                int left) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setToolTip(toolTip);
    button->setFont(interfaceFont(8.25));
    button->setGeometry(twipsRect(left, 60, 255, 255));
    button->setFocusPolicy(Qt::NoFocus);
    button->setEnabled(false);
    return button;
}

void frmNV4::createInfoCopy() {
    QLabel* original = lblInfo[0];
    auto* copy = new QLabel(original->text(), this);
    copy->setObjectName(QStringLiteral("lblInfo1"));
    copy->setFont(original->font());
    copy->setAlignment(original->alignment());
    copy->setToolTip(original->toolTip());
    QPalette palette = copy->palette();
    palette.setColor(QPalette::WindowText, Global::ToQColor(255));
    copy->setPalette(palette);
    copy->setGeometry(original->geometry().translated(Twips::ToPixelsX(20), Twips::ToPixelsY(20)));
    copy->installEventFilter(this);
    copy->raise();
    copy->show();
    lblInfo[1] = copy;
}

// ---- start-up and shut-down ---------------------------------------------------------------

void frmNV4::Form_Load() {
    Global::State& state = Global::state;
    state.DigitKeys = QStringLiteral("0123456789") + QChar(13) + QChar(8);
    state.SpeedPresets = {{{10, 14}, {14, 18}, {24, 36}, {18, 80}, {32, 230}, {32, 450}, {0, 0}}};
    state.AppFolder = Subs::WithTrailingSlash(options_.programFolder);
    state.SettingsFile = state.AppFolder + QStringLiteral("nv4.ini");
    News::state.NewsFilePath = state.AppFolder + QString::fromLatin1(News::NewsFileName);
    News::state.NewsUrl.clear();
    const QString ver = Subs::WindowsVersionText(options_.version);
    state.IsWindows4 = ver.startsWith(u'4');
    lblInfo[0]->setToolTip(QStringLiteral("Versione Windows:") +
                           Subs::ReplaceText(ver, QStringLiteral(","), QStringLiteral(".")));
    if (!state.IsWindows4)
        enable(tmrLock);
    Subs::SetTopMost(*this, true);

    state.StartingUp = true;
    setup_ = new frmSetup(*rasDial_, this);
    setup_->Form_Load();

    resize(Twips::ToPixelsX(CorniceWidth), Twips::ToPixelsY(CorniceHeight));
    createInfoCopy();
    const auto readNumber = [&](const QString& key, const char* defaultText) {
        return Convert::LeadingNumber(
            Subs::ReadIniValue(state.SettingsFile, GeneralSetup, key, QString::fromLatin1(defaultText)));
    };
    state.StartColor = Convert::ToInt32(readNumber(QStringLiteral("StartColor"), "255"));
    state.EndColor = Convert::ToInt32(readNumber(QStringLiteral("EndColor"), "65535"));
    const double top = readNumber(QStringLiteral("TopWin"), "10");
    const double left = readNumber(QStringLiteral("LeftWin"), "100");
    placeAt({Twips::ToPixelsX(left), Twips::ToPixelsY(top)});
    Global::PaintGradient(*this, state.StartColor, state.EndColor);
    News::state.NewsDownloadResult = News::NothingYet;

    do {
        QCoreApplication::processEvents();
    } while (!state.SetupReady);
    delete setup_.data();

    Global::LoadConnections();
    revokeChangedNumbers(*rasDial_);
    Global::LockSettingsFile();
    playSound(QStringLiteral("start.mp3"));
    rasDial_->SetWatchOtherCalls(true);
    rasDial_->SetReportEveryStage(true);
    rasDial_->SetWatchInterval(100);
    state.PhonebookPath = rasDial_->PhonebookFile();
    if (state.PhonebookPath.isEmpty()) {
        MessageBox::Show(QStringLiteral("Attenzione: c'è un errore nella lettura del file rasphone.pbk"),
                         MessageBox::Buttons::Ok, MessageBox::Icon::Critical, MessageBox::Button::Ok,
                         QStringLiteral(" Errore"));
    }
    state.StartingUp = false;
}

void frmNV4::Form_Unload() {
    if (unloaded_)
        return;
    if (Global::state.StartingUp) {
        // A shut-down signal taken by the start-up wait: shut down once start-up is over. Start-up
        // waits for nobody: a warning box it shows is closed, or the signal would go unanswered.
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
        QTimer::singleShot(0, this, &frmNV4::Form_Unload);
        return;
    }
    unloaded_ = true;
    Global::State& state = Global::state;
    Subs::SetTopMost(*this, false);
    if (!state.IsWindows4)
        Global::UnlockPhonebook(state.PhonebookPath);
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    for (QTimer* timer : {tmrInfo, tmrLock, tmrUrl, tmrCycle})
        timer->stop();
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
    Global::LockPhonebook(Global::state.PhonebookPath);
}

void frmNV4::tmrUrl_Timer() {
    tmrUrl->stop();
    News::StartDownload();
}

// ---- buttons ------------------------------------------------------------------------------

void frmNV4::cmdExit_Click() {
    if (options_.isAdministrator()) {
        const MessageBox::Button answer = MessageBox::Show(
            QStringLiteral("Desideri chiudere Norvale?"), MessageBox::Buttons::YesNo,
            MessageBox::Icon::Question, MessageBox::Button::No, QStringLiteral(" Uscire"), this);
        if (answer != MessageBox::Button::No)
            Form_Unload();
    } else {
        MessageBox::Show(
            QStringLiteral("Non puoi chiudere Norvale.\rQuesta azione è permessa solo ad un utente "
                           "amministratore."),
            MessageBox::Buttons::Ok, MessageBox::Icon::None, MessageBox::Button::Ok,
            QStringLiteral("Norvale"), this);
    }
}

void frmNV4::cmdSetup_Click() {
    if (options_.isAdministrator()) {
        if (!setup_) {
            setup_ = new frmSetup(*rasDial_, this);
            setup_->setAttribute(Qt::WA_DeleteOnClose);
            setup_->Form_Load();
        }
        setup_->show();
    } else {
        MessageBox::Show(QStringLiteral("Non puoi Accedere ai settaggi.\rQuesta azione è permessa solo ad un "
                                        "utente amministratore."),
                         MessageBox::Buttons::Ok, MessageBox::Icon::None, MessageBox::Button::Ok,
                         QStringLiteral("Norvale"), this);
    }
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

void frmNV4::bringBack() {
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
    bringBack();
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

void frmNV4::Form_MouseDown(int, int, float x, float y) {
    dragX_ = x;
    dragY_ = y;
    dragging_ = true;
}

void frmNV4::Form_MouseMove(int button, int, float x, float y) {
    if (button != 1 || !dragging_)
        return;
    placeAt({Twips::ToPixelsX(LeftTwips() + (x - dragX_)), Twips::ToPixelsY(TopTwips() + (y - dragY_))});
}

void frmNV4::Form_MouseUp(int, int, float, float) {
    dragging_ = false;
    SavePosition();
}

void frmNV4::SavePosition() {
    const QString& file = Global::state.SettingsFile;
    Global::UnlockSettingsFile();
    Subs::WriteIniValue(file, GeneralSetup, QStringLiteral("TopWin"), Convert::NumberText(TopTwips()));
    Subs::WriteIniValue(file, GeneralSetup, QStringLiteral("LeftWin"), Convert::NumberText(LeftTwips()));
    Global::LockSettingsFile();
}

void frmNV4::mousePressEvent(QMouseEvent* event) {
    Form_MouseDown(buttonOf(event->button()), TrayArea::ShiftState(event->modifiers()), xTwips(*event),
                   yTwips(*event));
}

void frmNV4::mouseMoveEvent(QMouseEvent* event) {
    Form_MouseMove(buttonsOf(event->buttons()), TrayArea::ShiftState(event->modifiers()), xTwips(*event),
                   yTwips(*event));
}

void frmNV4::mouseReleaseEvent(QMouseEvent* event) {
    Form_MouseUp(buttonOf(event->button()), TrayArea::ShiftState(event->modifiers()), xTwips(*event),
                 yTwips(*event));
}

void frmNV4::mouseDoubleClickEvent(QMouseEvent*) {
    Form_DblClick();
}

// The title label and its red copy drag the window like its background does (in their own
// coordinates); a double click on them does nothing. The other labels keep the mouse to
// themselves.
bool frmNV4::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    if (watched != lblInfo[0] && (watched != lblInfo[1] || lblInfo[1] == nullptr))
        return true;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const int shift = TrayArea::ShiftState(mouse->modifiers());
    switch (type) {
    case QEvent::MouseButtonDblClick:
        break;
    case QEvent::MouseButtonPress:
        Form_MouseDown(buttonOf(mouse->button()), shift, xTwips(*mouse), yTwips(*mouse));
        break;
    case QEvent::MouseMove:
        Form_MouseMove(buttonsOf(mouse->buttons()), shift, xTwips(*mouse), yTwips(*mouse));
        break;
    default:
        Form_MouseUp(buttonOf(mouse->button()), shift, xTwips(*mouse), yTwips(*mouse));
        break;
    }
    return true;
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

// ---- connection events --------------------------------------------------------------------

void frmNV4::setStatusCaption(const QString& text) {
    lblStatus->setText(text);
    // lblStatus_Change
    enable(tmrInfo);
}

void frmNV4::showText(const QString& text, bool hangUpUnauthorised) {
    Global::state.StatusText = text;
    tryDialer->setToolTip(text);
    if (hangUpUnauthorised && !Global::IsAuthorised(rasDial_->EntryName()))
        rasDial_->HangUp();
    lblInfo[0]->setToolTip(text);
    setStatusCaption(text);
}

void frmNV4::ShowStatus(const QString& text) {
    showText(text, false);
}

void frmNV4::rasDial_Status(int state) {
    if (height() != Twips::ToPixelsY(BottomLineY))
        RepaintMain();
    QString text;
    switch (state) {
    case -1:
        text = QStringLiteral("Idle...");
        break;
    case 0:
        text = QStringLiteral("Opening port...");
        break;
    case 1:
        text = QStringLiteral("port opened.");
        break;
    case 2:
        text = QStringLiteral("Connecting device...");
        break;
    case 3:
        text = QStringLiteral("Device connected.");
        break;
    case 5:
        text = QStringLiteral("Authenticating...");
        break;
    case 14:
        text = QStringLiteral("Successefully connected!");
        break;
    case 8192:
        text = QStringLiteral("Connection estabilished with ip: ") + rasDial_->IpAddress();
        break;
    case 8193:
        text = QStringLiteral("Connection closed.");
        break;
    default:
        text = QStringLiteral("State code:") + Convert::NumberText(state);
        break;
    }
    showText(text, state == DialerControl::ConnectDevice);
}

void frmNV4::rasDial_Connect() {
    playSound(QStringLiteral("connected.mp3"));
    Global::State& state = Global::state;
    const QString name = rasDial_->EntryName();
    if (!Global::IsAuthorised(name)) {
        rasDial_->HangUp();
        return;
    }
    state.LineSpeedUp = Global::SpeedOf(name, true);
    state.LineSpeedDown = Global::SpeedOf(name, false);
    state.Connected = true;
    StateConnected();
    showInfo(QStringLiteral("Connesso. IP: ") + rasDial_->IpAddress(), 18);
}

void frmNV4::StateConnected() {
    RepaintMain();
    ShowStatus(QStringLiteral("Connesso con ") + rasDial_->EntryName() + QStringLiteral(" IP:") +
               rasDial_->IpAddress());
    vfdDw->setMax(Global::state.LineSpeedDown);
    vfdUp->setMax(Global::state.LineSpeedUp);
}

void frmNV4::rasDial_Disconnect() {
    playSound(QStringLiteral("disconnected.mp3"));
    RepaintMain();
    ShowStatus(QStringLiteral("Disconnected."));
    Global::state.Connected = false;
    showInfo(QStringLiteral("DISCONNESSIONE"), 18);
}

void frmNV4::rasDial_LastError(int errorCode, const QString& errorString, int) {
    if (errorCode > 24999)
        errorCode -= 25000;
    playSound(QStringLiteral("error.mp3"));
    RepaintMain();
    ShowStatus(QStringLiteral("Codice errore: ") + Convert::NumberText(errorCode) + QStringLiteral(" - ") +
               errorString);
    if (Global::state.CycleStarted)
        showInfo(Global::state.StatusText, 8);
}

void frmNV4::playSound(const QString& fileName) {
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

    if (!rasDial_->IsOnline() || !state.Connected)
        return;

    totalSent_ = float(rasDial_->BytesSent());
    totalReceived_ = float(rasDial_->BytesReceived());
    lblTotUp->setText(totalText(totalSent_));
    lblTotDw->setText(totalText(totalReceived_));

    const double perSecond = 1000.0 / tmrCycle->interval();
    const float up = float(double(totalSent_ - prevSent_) * perSecond / 1000.0);
    const float down = float(double(totalReceived_ - prevReceived_) * perSecond / 1000.0);
    lblUp->setText(grouped(up, 2) + QStringLiteral(" KB"));
    lblDown->setText(grouped(down, 2) + QStringLiteral(" KB"));
    prevReceived_ = totalReceived_;
    prevSent_ = totalSent_;

    barUp->setPercent(levelOf(up, state.LineSpeedUp));
    barDw->setPercent(levelOf(down, state.LineSpeedDown));
    vfdUp->AddValue(Convert::ToInt32(up));
    vfdDw->AddValue(Convert::ToInt32(down));
}
