// Puts a borderless strip, a dialog without a close button and an ordinary window on a real X
// display and switches the strip's on-top state on command, so that a test can watch the display
// from outside.
// stdin: "on", "off" or "quit", one per line.
// stdout: "ready <strip window> <dialog window> <ordinary window>", then per command "<result>
// <strip window> <on top per Qt> <x> <y> <width> <height>".
#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

unsigned long long nativeId(const QWidget& window) {
    return window.windowHandle() ? window.windowHandle()->winId() : 0;
}

void report(const QWidget& strip, bool result) {
    const QRect frame = strip.frameGeometry();
    std::printf("%d %llu %d %d %d %d %d\n", result ? 1 : 0, nativeId(strip),
                strip.windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? 1 : 0, frame.x(), frame.y(),
                frame.width(), frame.height());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget strip(nullptr, Qt::FramelessWindowHint);
    strip.setGeometry(100, 50, 509, 33);
    QDialog dialog;
    dialog.setGeometry(200, 300, 300, 120);
    Subs::RemoveCloseItem(dialog);
    QWidget ordinary;
    ordinary.setGeometry(600, 300, 200, 120);
    strip.show();
    dialog.show();
    ordinary.show();

    QTimer exposed;
    QObject::connect(&exposed, &QTimer::timeout, [&] {
        for (const QWidget* window : {&strip, static_cast<QWidget*>(&dialog), &ordinary}) {
            if (!window->windowHandle()->isExposed())
                return;
        }
        exposed.stop();
        std::printf("ready %llu %llu %llu\n", nativeId(strip), nativeId(dialog), nativeId(ordinary));
        std::fflush(stdout);
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
        report(strip, result);
    });
    return app.exec();
}
