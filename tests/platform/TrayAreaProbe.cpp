// Shows a tray icon through TrayArea on a real X display with a tray, and reports its events so
// that a test can click the icon from outside.
// argv[1]: the icon file. stdin: "hide", "show", "end" (ends the control) or "quit", one per line.
// stdout: "ready <tray available>" once the icon is added; then "down <button> <shift> <x> <y>",
// "up <button>", "dblclick", "move" as the events come, and "done <command>" after each command.
#include "controls/TrayArea.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <icon.png>\n", argv[0]);
        return 2;
    }
    auto tray = std::make_unique<TrayArea>();
    tray->setIcon(QIcon(QString::fromLocal8Bit(argv[1])));
    tray->setToolTip(QStringLiteral("Norvale 4.3"));
    QObject::connect(tray.get(), &TrayArea::MouseMove, [] { say(QStringLiteral("move")); });
    QObject::connect(tray.get(), &TrayArea::MouseDown, [](int button, int shift, float x, float y) {
        say(QStringLiteral("down %1 %2 %3 %4").arg(button).arg(shift).arg(double(x)).arg(double(y)));
    });
    QObject::connect(tray.get(), &TrayArea::MouseUp,
                     [](int button) { say(QStringLiteral("up %1").arg(button)); });
    QObject::connect(tray.get(), &TrayArea::DblClick, [] { say(QStringLiteral("dblclick")); });

    // The tray may come up a moment after the program.
    const QDeadlineTimer deadline(15000);
    QTimer waiting;
    QObject::connect(&waiting, &QTimer::timeout, [&] {
        if (!tray->TrayAvailable() && !deadline.hasExpired())
            return;
        waiting.stop();
        tray->setVisible(true);
        say(QStringLiteral("ready %1").arg(tray->TrayAvailable() ? 1 : 0));
    });
    waiting.start(20);

    QSocketNotifier commands(0, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit") {
            commands.setEnabled(false);
            app.quit();
            return;
        }
        if (line == "hide" && tray)
            tray->setVisible(false);
        else if (line == "show" && tray)
            tray->setVisible(true);
        else if (line == "end")
            tray.reset();
        say(QStringLiteral("done %1").arg(QString::fromStdString(line)));
    });
    return app.exec();
}
