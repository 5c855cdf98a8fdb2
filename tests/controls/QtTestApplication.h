#pragma once

#include <QImage>
#include <QWidget>

// One application object for the whole test program, on the offscreen platform unless another
// was chosen, and helpers to read what a widget shows.
namespace QtTestApplication {

// The widget as its own paintEvent draws it.
QImage Shot(QWidget& widget);
// A pixel as a colour value (red in the low byte); a colour value as the screen shows it.
qint32 ColourAt(const QImage& image, int x, int y);
qint32 Shown(qint32 colour);

} // namespace QtTestApplication
