#pragma once

// Window and control coordinates are kept in twips (1440 per inch) and converted to pixels at the
// screen's logical resolution: 15 twips per pixel at 96 dpi.
namespace Twips {

double PerPixelX();
double PerPixelY();

int ToPixelsX(double twips);
int ToPixelsY(double twips);
double FromPixelsX(int pixels);
double FromPixelsY(int pixels);

} // namespace Twips
