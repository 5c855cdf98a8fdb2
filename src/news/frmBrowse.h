#pragma once

#include <QTimer>
#include <QUrl>
#include <QWidget>

class NewsBrowser;

// The news window: a borderless page that, once its page has arrived, slides up from below the
// bottom-right corner of the screen, stays on top without taking clicks, slides down again and
// goes away.
class frmBrowse final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmBrowse)

public:
    // Created hidden; the timings come from News::state.
    explicit frmBrowse(QWidget* parent = nullptr);
    ~frmBrowse() override;

    // Asks the browser for the page; the window shows itself once the page has arrived.
    void Navigate(const QString& address);

    NewsBrowser* Browser = nullptr;
    QTimer tmrSleep; // from the page's arrival to the slide up
    QTimer tmrDown;  // time on the screen after the slide up

    static constexpr double ClientWidth = 6405;  // twips
    static constexpr double ClientHeight = 2085; // twips
    static constexpr double Margin = 400;        // twips left free under the window on the screen
    static constexpr double SlideStep = 5;       // twips per step

signals:
    // The slide up has ended: the window is on the screen.
    void SlidUp();
    // The window is going away; it is no longer on top.
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Browser_NavigateComplete2(const QUrl& url);
    void tmrSleep_Timer();
    void tmrDown_Timer();
    void Form_Unload();

    // One step every slide-step interval; other events run between steps.
    void startSlide(bool up);
    void slideStep();
    void placeAt(double top);
    int slideDistance() const;
    QRect screenRect() const;

    QTimer slideTimer_;
    bool slidingUp_ = false;
    int step_ = 0;    // the next i of the slide: 1, 6, 11, ...
    double left_ = 0; // twips, from the screen's left edge
    double top_ = 0;  // twips, from the screen's top edge
};
