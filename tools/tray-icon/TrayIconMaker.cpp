// Draws the 16 x 16 notification-area icon: a shield in the strip's red-to-yellow gradient with a
// keyhole. Usage: tray-icon-maker <file.png>
#include <QColor>
#include <QImage>

#include <array>
#include <cmath>
#include <cstdio>

namespace {

// '.' transparent, 'o' outline, 'f' gradient fill, 'w' keyhole.
constexpr std::array<const char*, 16> Pixels = {
    "................", //
    ".oooooooooooooo.", //
    ".offffffffffffo.", //
    ".offffffffffffo.", //
    ".offfffwwfffffo.", //
    ".offffwwwwffffo.", //
    ".offffwwwwffffo.", //
    ".offfffwwfffffo.", //
    ".offfffwwfffffo.", //
    ".offffwwwwffffo.", //
    "..offfwwwwfffo..", //
    "...offffffffo...", //
    "....offffffo....", //
    ".....offffo.....", //
    "......offo......", //
    ".......oo.......", //
};

constexpr int FirstFillRow = 2;
constexpr int LastFillRow = 14;

// Red at the top to yellow at the bottom, as the strip's default gradient.
QColor fillOf(int row) {
    const double step = double(row - FirstFillRow) / (LastFillRow - FirstFillRow);
    return QColor(255, int(std::lround(255.0 * step)), 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
        return 2;
    }
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            switch (Pixels[y][x]) {
            case 'o':
                icon.setPixelColor(x, y, QColor(96, 0, 0));
                break;
            case 'f':
                icon.setPixelColor(x, y, fillOf(y));
                break;
            case 'w':
                icon.setPixelColor(x, y, QColor(255, 255, 255));
                break;
            default:
                break;
            }
        }
    }
    if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
