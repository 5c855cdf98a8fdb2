#pragma once

#include "platform/Convert.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QtGlobal>

#include <cmath>
#include <concepts>

// Colour values are red + 256 x green + 65536 x blue; 0x80000000 + n names system colour n.
namespace Global {

// Red channel: colour mod 256, keeping the sign of the colour.
qint32 RedOf(qint32 colour);
// Green and blue channels; a system colour keeps its top byte in the result.
qint32 GreenOf(qint32 colour);
qint32 BlueOf(qint32 colour);

// The colour a value shows on screen: plain red-green-blue, or a system colour taken from the
// application palette (0x8000000F button face, 0x80000005 window background, ...).
QColor ToQColor(qint32 colour);

// A window's line drawing into its off-screen picture: the line is given in twips and rounded to
// pixels, its end point not drawn; the picture first follows the window's size, new parts in the
// background colour.
void DrawLineInTwips(QImage& picture, QSize size, const QColor& background, double x1, double y1, double x2,
                     double y2, qint32 colour);

// Anything the gradient can be painted on: its outer height and width in twips, and a line in its
// own coordinates (twips unless it was given another scale).
template <typename T>
concept GradientTarget = requires(T& target, double x, double y, qint32 colour) {
    { target.Height() } -> std::convertible_to<double>;
    { target.Width() } -> std::convertible_to<double>;
    target.Line(x, y, x, y, colour);
};

// Vertical gradient from start (top) to end (bottom): H + 1 lines of one twip, single-precision
// steps, every channel rounded half to even. A target without height is left alone.
template <GradientTarget Target>
void PaintGradient(Target& target, const qint32& startColour, const qint32& endColour) {
    const qint32 r0 = RedOf(startColour), g0 = GreenOf(startColour), b0 = BlueOf(startColour);
    const qint32 r1 = RedOf(endColour), g1 = GreenOf(endColour), b1 = BlueOf(endColour);
    const double height = double(target.Height());
    if (!(height > 0.0) || !std::isfinite(height))
        return;
    // 64-bit differences: only a system colour passed by mistake could come near the limits.
    const float dR = float(double(qint64(r1) - r0) / height);
    const float dG = float(double(qint64(g1) - g0) / height);
    const float dB = float(double(qint64(b1) - b0) / height);
    // Counted in whole numbers: a single-precision y would stop growing past 2^24.
    const qint64 last = qint64(std::floor(height));
    for (qint64 line = 0; line <= last; ++line) {
        const float y = float(line);
        const qint64 b = Convert::ToInt16(double(y * dB) + b0);
        const qint64 g = Convert::ToInt16(double(y * dG) + g0);
        const qint64 r = Convert::ToInt16(double(y * dR) + r0);
        const auto colour = qint32(r + 256 * g + 65536 * b);
        target.Line(0.0, double(y), double(target.Width()), double(y), colour);
    }
}

} // namespace Global
