#pragma once

#include "app/MainWindow.h"
#include "app/MonitorHooks.h"
#include "app/TrafficView.h"
#include "controls/TrayArea.h"
#include "platform/SystemHelpers.h"

#include <QImage>
#include <QJsonObject>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class GuardClient;
class GuardWatch;
class QLabel;
class QPushButton;
class QTimer;
class StripMouse;
class frmSetup;
class quadBar;
class vfdDisplay;

// The main window: a borderless strip that stays on top and hides into the notification area. It
// shows what the guard reports: the status line of each call, and the connection's traffic twice a
// second. The guard decides; the window shows, and sends the user's changes to it.
class frmNV4 final : public QWidget, public MainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmNV4)

public:
    // What the window takes from the system; tests put their own in.
    struct Options {
        // Sounds, icon, palette, help.
        QString dataFolder;
        std::function<bool()> isAdministrator = [] { return Global::IsAdministrator(); };
        Subs::VersionSource version = Subs::KernelVersionWord;
        // None: the desktop's notification area.
        std::unique_ptr<TrayArea::NotificationArea> notificationArea;
        // Ends the program; none: leave the event loop.
        std::function<void()> endProgram;
        // Empty: guard.sock and the news file in the data folder.
        QString guardSocket;
        QString newsFile;
    };

    // Layout values in twips.
    static constexpr int CorniceWidth = 7635;
    static constexpr int CorniceHeight = 495;
    static constexpr int BottomLineY = 720;
    static constexpr int CycleIntervalMs = 500;

    explicit frmNV4(Options options, QWidget* parent = nullptr);
    ~frmNV4() override;

    // The start-up sequence; the caller shows the window afterwards.
    void Form_Load();
    // Ends the display (a shut-down signal, a logout, the guard stopped); the guard goes on. Runs once.
    void Form_Unload();

    // Shows a status text: StatusText, the tray tooltip, the tooltip of lblInfo(0), lblStatus.
    void ShowStatus(const QString& text) override;
    void SavePosition();
    void StateConnected(const QString& entry, const QString& ip);
    // Opens the status area and repaints the gradient over the new height.
    void RepaintMain() override;
    void Restore() override;
    GuardClient& Guard() override { return *guard_; }
    void PlayCue(const QString& fileName) override;
    void ShowRefusal(const QString& text) override;
    // The guard is away: said in the info strip, which shows with the strip hidden too.
    void ShowAway() override;

    // The window as a gradient target: outer size in twips and a line in twips.
    double Height() const;
    double Width() const;
    void Line(double x1, double y1, double x2, double y2, qint32 colour);

    // Moves the window; its place is what the program last gave it, never read back from Qt.
    void placeAt(QPoint place);
    // The window's position in twips.
    double LeftTwips() const;
    double TopTwips() const;

    MonitorHooks& Hooks() { return hooks_; }
    bool Dragging() const { return dragging_; }

    // Controls, for the parts of the program that reach into the window and for tests.
    std::array<QLabel*, 2> lblInfo{};
    quadBar* const barUp;
    quadBar* const barDw;
    vfdDisplay* const vfdUp;
    vfdDisplay* const vfdDw;
    QPushButton* const cmdSetup;
    QPushButton* const cmdMin;
    QPushButton* const cmdExit;
    QLabel* const lblUp;
    QLabel* const lblDown;
    QLabel* const lblTotUp;
    QLabel* const lblTotDw;
    QLabel* const lblStatus;
    TrayArea* const tryDialer;
    QTimer* const tmrInfo;
    QTimer* const tmrLock;
    QTimer* const tmrUrl;
    QTimer* const tmrCycle;

public slots:
    void cmdExit_Click();
    void cmdSetup_Click();
    void cmdMin_Click();
    void Form_DblClick();
    // Buttons as the mouse events carry them: 1 left, 2 right, 4 middle; x and y in twips.
    void Form_MouseDown(int button, int shift, float x, float y);
    void Form_MouseMove(int button, int shift, float x, float y);
    void Form_MouseUp(int button, int shift, float x, float y);
    void tmrInfo_Timer();
    void tmrLock_Timer();
    void tmrUrl_Timer();
    void tmrCycle_Timer();
    void tryDialer_DblClick();
    void tryDialer_MouseDown(int button, int shift, float x, float y);
    void rasDial_Status(int state, const QString& ip);
    void rasDial_Connect(bool authorised, const QString& entry, const QString& ip, int speedUp, int speedDown);
    void rasDial_Disconnect();
    void rasDial_LastError(int errorCode, const QString& errorString, int response) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createInfoCopy();
    void keepReachable(const char* why);
    void hideToTray();
    void showInfo(const QString& text, float size);
    void paintStrip();

    void guardConnected(const QJsonObject& snapshot);
    void guardLost();
    void guardStopped();
    void restoreStatus(const QStringList& shown);

    Options options_;
    GuardClient* const guard_;
    MonitorHooks hooks_;
    QPointer<frmSetup> setup_;
    GuardWatch* const watch_;
    StripMouse* const mouse_;
    TrafficView traffic_;
    QImage picture_;

    QPointF dragFrom_;
    QPoint dragPlace_;
    bool dragging_ = false;
    qint16 startTicks_ = 0;
    QPoint place_;
    bool unloaded_ = false;
    bool placeUnsent_ = false;
    bool connectedWhenLost_ = false;
    // StatusText and the three places that show it, as they were when the guard went away.
    QStringList statusBeforeLoss_;
    bool countersAsked_ = false;
};
