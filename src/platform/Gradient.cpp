#include "platform/Gradient.h"

#include "platform/Twips.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>

namespace Global {

qint32 RedOf(qint32 colour) {
    return colour % 256;
}

qint32 GreenOf(qint32 colour) {
    return (colour & qint32(0xFF00FF00u)) / 256;
}

qint32 BlueOf(qint32 colour) {
    return (colour & qint32(0xFFFF0000u)) / 65536;
}

namespace {

// Where each system colour lives in a Qt palette (the same pairing Qt uses on Windows).
QColor systemColour(int index) {
    const QPalette palette = qGuiApp ? QGuiApplication::palette() : QPalette(QColor(0xF0, 0xF0, 0xF0));
    switch (index) {
    case 2:  // active caption
    case 13: // highlight
        return palette.color(QPalette::Highlight);
    case 9:  // caption text
    case 14: // highlighted text
        return palette.color(QPalette::HighlightedText);
    case 5: // window background
        return palette.color(QPalette::Base);
    case 6: // window frame
    case 7: // menu text
    case 8: // window text
        return palette.color(QPalette::WindowText);
    case 12: // application workspace
    case 16: // button shadow
        return palette.color(QPalette::Dark);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::ButtonText);
    case 20: // 3D highlight
        return palette.color(QPalette::Light);
    case 21: // 3D dark shadow
        return palette.color(QPalette::Shadow);
    case 22: // 3D light
        return palette.color(QPalette::Midlight);
    case 23: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 24: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    case 15: // button face
        return palette.color(QPalette::Button);
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace

QColor ToQColor(qint32 colour) {
    const auto value = quint32(colour);
    if ((value & 0xFF000000u) == 0x80000000u)
        return systemColour(int(value & 0xFFu));
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

void DrawLineInTwips(QImage& picture, QSize size, const QColor& background, double x1, double y1, double x2,
                     double y2, qint32 colour) {
    if (picture.size() != size) {
        QImage next(size, QImage::Format_RGB32);
        next.fill(background);
        QPainter copy(&next);
        copy.drawImage(0, 0, picture);
        copy.end();
        picture = next;
    }
    if (picture.isNull())
        return;
    // Rounded to the nearest pixel like every other twips conversion; the end point is not drawn.
    const int ax = Twips::ToPixelsX(x1), ay = Twips::ToPixelsY(y1);
    const int bx = Twips::ToPixelsX(x2), by = Twips::ToPixelsY(y2);
    const QColor shown = ToQColor(colour);
    if (ay == by) {
        if (ay < 0 || ay >= picture.height() || ax == bx)
            return;
        const int from = std::clamp(std::min(ax, bx), 0, picture.width());
        const int to = std::clamp(std::max(ax, bx), 0, picture.width());
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(ay));
        std::fill(line + from, line + to, shown.rgb());
    } else {
        QPainter painter(&picture);
        painter.setPen(shown);
        painter.drawLine(ax, ay, bx, by);
    }
}

} // namespace Global
