#pragma once

#include <QRect>

// Window and control coordinates are kept in twips (1440 per inch) and converted to pixels at the
// screen's logical resolution: 15 twips per pixel at 96 dpi.
namespace Twips {

double PerPixelX();
double PerPixelY();

int ToPixelsX(double twips);
int ToPixelsY(double twips);
double FromPixelsX(int pixels);
double FromPixelsY(int pixels);
// A control's place and size given in twips.
QRect Rect(int left, int top, int width, int height);

} // namespace Twips
