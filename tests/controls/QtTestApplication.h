#pragma once

#include "TestFiles.h"

#include <QEvent>
#include <QImage>
#include <QWidget>

#include <optional>

// One application object for the whole test program, on the offscreen platform unless another
// was chosen, and helpers to read what a widget shows and to drive it.
namespace QtTestApplication {

// The widget as its own paintEvent draws it.
QImage Shot(QWidget& widget);
// A pixel as a colour value (red in the low byte); a colour value as the screen shows it.
qint32 ColourAt(const QImage& image, int x, int y);
qint32 Shown(qint32 colour);

// A left-button mouse event at a point of the widget (its centre when none is given); a move
// carries the buttons held.
void Mouse(QWidget& widget, QEvent::Type type, std::optional<QPointF> at = {},
           Qt::MouseButtons held = Qt::LeftButton);
// A press and a release.
void Click(QWidget& widget, std::optional<QPointF> at = {});
void Key(QWidget& widget, int code, const QString& text = {});

} // namespace QtTestApplication
