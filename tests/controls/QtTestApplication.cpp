#include "QtTestApplication.h"

#include "platform/Gradient.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Environment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "controls_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

// gtest owns it from here on.
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

namespace QtTestApplication {

QImage Shot(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

qint32 ColourAt(const QImage& image, int x, int y) {
    const QRgb rgb = image.pixel(x, y);
    return qRed(rgb) + 256 * qGreen(rgb) + 65536 * qBlue(rgb);
}

qint32 Shown(qint32 colour) {
    const QColor shown = Global::ToQColor(colour);
    return shown.red() + 256 * shown.green() + 65536 * shown.blue();
}

void Mouse(QWidget& widget, QEvent::Type type, std::optional<QPointF> at, Qt::MouseButtons held) {
    const QPointF local = at.value_or(QPointF(widget.width() / 2.0, widget.height() / 2.0));
    QMouseEvent event(type, local, widget.mapToGlobal(local),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void Click(QWidget& widget, std::optional<QPointF> at) {
    Mouse(widget, QEvent::MouseButtonPress, at);
    Mouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

void Key(QWidget& widget, int code, const QString& text) {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, code, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&widget, &event);
    }
}

} // namespace QtTestApplication
