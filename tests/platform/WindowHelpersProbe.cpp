// Puts a borderless strip, a dialog without a close button and an ordinary window on a real X
// display and switches the strip's on-top state on command, so that a test can watch the display
// from outside.
// stdin: "on", "off" or "quit", one per line.
// stdout: "ready <strip window> <dialog window> <ordinary window>", then per command "<result>
// <strip window> <on top per Qt> <x> <y> <width> <height>".
#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget strip(nullptr, Qt::FramelessWindowHint);
    strip.setGeometry(100, 50, 509, 33);
    QDialog dialog;
    dialog.setGeometry(200, 300, 300, 120);
    Subs::RemoveCloseItem(dialog);
    QWidget ordinary;
    ordinary.setGeometry(600, 300, 200, 120);
    const QList<QWidget*> windows{&strip, &dialog, &ordinary};
    for (QWidget* window : windows)
        window->show();
    const auto say = [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };

    // openbox can lose a map request that arrives while it is still starting: a window that is
    // not exposed after a while is mapped again.
    const QDeadlineTimer deadline(15000);
    QDeadlineTimer remap(2000);
    QTimer exposed;
    QObject::connect(&exposed, &QTimer::timeout, [&] {
        const bool all = std::all_of(windows.begin(), windows.end(), [](const QWidget* window) {
            return window->windowHandle()->isExposed();
        });
        if (all || deadline.hasExpired()) {
            exposed.stop();
            say(all ? QString("ready %1 %2 %3").arg(strip.winId()).arg(dialog.winId()).arg(ordinary.winId())
                    : "not exposed");
        } else if (remap.hasExpired()) {
            for (QWidget* window : windows) {
                if (!window->windowHandle()->isExposed()) {
                    window->hide();
                    window->show();
                }
            }
            remap.setRemainingTime(2000);
        }
    });
    exposed.start(20);

    QSocketNotifier commands(0, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit") {
            commands.setEnabled(false);
            app.quit();
            return;
        }
        const bool result = Subs::SetTopMost(strip, line == "on");
        QCoreApplication::processEvents();
        const QRect frame = strip.frameGeometry();
        say(QString::asprintf("%d %llu %d %d %d %d %d", result ? 1 : 0, qulonglong(strip.winId()),
                              strip.windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? 1 : 0, frame.x(),
                              frame.y(), frame.width(), frame.height()));
    });
    return app.exec();
}
