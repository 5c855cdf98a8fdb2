#include "platform/Twips.h"

#include "platform/Convert.h"

#include <QGuiApplication>
#include <QScreen>

namespace Twips {
namespace {

double logicalDpi(bool horizontal) {
    const QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                ? QGuiApplication::primaryScreen()
                                : nullptr;
    const double dpi = screen ? (horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY()) : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

} // namespace

double PerPixelX() { return 1440.0 / logicalDpi(true); }
double PerPixelY() { return 1440.0 / logicalDpi(false); }

int ToPixelsX(double twips) { return Convert::ToInt32(twips / PerPixelX()); }
int ToPixelsY(double twips) { return Convert::ToInt32(twips / PerPixelY()); }
double FromPixelsX(int pixels) { return pixels * PerPixelX(); }
double FromPixelsY(int pixels) { return pixels * PerPixelY(); }

QRect Rect(int left, int top, int width, int height) {
    return {ToPixelsX(left), ToPixelsY(top), ToPixelsX(width), ToPixelsY(height)};
}

} // namespace Twips
