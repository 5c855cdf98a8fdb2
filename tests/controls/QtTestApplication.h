#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// Widgets need one application object for the whole test program; it is created before the first
// test and uses the offscreen platform when no other was chosen.
namespace QtTestApplication {

// What the widget shows, as drawn by its own paintEvent.
QImage Shot(QWidget& widget);

// The pixel as a colour value (red in the low byte) and a colour value as the screen shows it.
qint32 ColourAt(const QImage& image, int x, int y);
qint32 Shown(qint32 colour);

} // namespace QtTestApplication
