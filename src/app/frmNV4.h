#pragma once

#include "app/MonitorHooks.h"
#include "controls/TrayArea.h"
#include "platform/SystemHelpers.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class DialerControl;
class QLabel;
class QPushButton;
class QTimer;
class frmSetup;
class quadBar;
class vfdDisplay;

// The main window: a borderless strip that stays on top and hides into the notification area. It
// owns the dial-up component, turns its events into the status line and hangs up calls on entries
// that are not authorised, and shows the connection's traffic twice a second.
class frmNV4 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmNV4)

public:
    // What the window takes from the system; tests put their own in.
    struct Options {
        QString programFolder;
        std::function<bool()> isAdministrator = Global::IsAdministrator;
        Subs::VersionSource version = Subs::KernelVersionWord;
        // None: the desktop's notification area.
        std::unique_ptr<TrayArea::NotificationArea> notificationArea;
        // Ends the program after shut-down; none: leave the event loop.
        std::function<void()> endProgram;
    };

    // Layout values in twips.
    static constexpr int CorniceWidth = 7635;
    static constexpr int CorniceHeight = 495;
    static constexpr int BottomLineY = 720;
    static constexpr int CycleIntervalMs = 500;

    frmNV4(std::unique_ptr<DialerControl> dialer, Options options, QWidget* parent = nullptr);
    ~frmNV4() override;

    // The start-up sequence; the caller shows the window afterwards.
    void Form_Load();
    // The shut-down sequence; runs once.
    void Form_Unload();

    // Shows a status text: StatusText, the tray tooltip, the tooltip of lblInfo(0), lblStatus.
    void ShowStatus(const QString& text);
    void SavePosition();
    void StateConnected();
    // Opens the status area and repaints the gradient over the new height.
    void RepaintMain();

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
    DialerControl& rasDial() { return *rasDial_; }
    bool Dragging() const { return dragging_; }
    qint16 StartTicks() const { return startTicks_; }

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
    void rasDial_Status(int state);
    void rasDial_Connect();
    void rasDial_Disconnect();
    void rasDial_LastError(int errorCode, const QString& errorString, int response);

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* makeLabel(const QString& name, const QString& caption, int left, int top, int width, int height,
                      double pointSize);
    QPushButton* makeButton(const QString& name, const QString& caption, const QString& toolTip, int left);
    void createInfoCopy();
    void setStatusCaption(const QString& text);
    void showText(const QString& text, bool hangUpUnauthorised);
    void keepReachable(const char* why);
    void hideToTray();
    void playSound(const QString& fileName);
    void showInfo(const QString& text, float size);
    void bringBack();

    std::unique_ptr<DialerControl> rasDial_;
    Options options_;
    MonitorHooks hooks_;
    QPointer<frmSetup> setup_;
    QImage picture_;

    float dragX_ = 0;
    float dragY_ = 0;
    bool dragging_ = false;
    qint16 startTicks_ = 0;
    QPoint place_;
    bool unloaded_ = false;
    bool toldUnreachable_ = false;

    // Totals of the last connected tick, kept across connections.
    float totalSent_ = 0;
    float totalReceived_ = 0;
    float prevSent_ = 0;
    float prevReceived_ = 0;
};
