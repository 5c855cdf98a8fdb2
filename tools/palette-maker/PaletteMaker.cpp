// Draws the colour picker's palette, 175 x 187 pixels, 24-bit: the hue runs once round the colour
// circle from left to right starting at red, at mid lightness; the top row is fully saturated and
// the saturation falls row by row to an almost grey bottom row. Usage: palette-maker <file.png>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int Columns = 175;
constexpr int Rows = 187;
constexpr int MiddleRow = 93;
// Half saturation on the middle row (191, 64, 64 at the left edge) and 132, 123, 123 at the
// bottom-left: the lower half falls slightly more slowly (1.27 against 1.37 of 255 per row), so
// that the bottom row keeps a trace of its hue.
constexpr double BottomSaturation = 9.0 / 255.0;

double saturationOf(int row) {
    if (row <= MiddleRow)
        return 1.0 - 0.5 * row / MiddleRow;
    return 0.5 - (0.5 - BottomSaturation) * (row - MiddleRow) / (Rows - 1 - MiddleRow);
}

// One channel of a colour of lightness 1/2 (CSS Color 4 HSL): n is 0 for red, 8 for green, 4 for
// blue, hue in degrees.
int channelOf(double n, double hue, double saturation) {
    const double k = std::fmod(n + hue / 30.0, 12.0);
    const double level = 0.5 - saturation / 2.0 * std::max(-1.0, std::min({k - 3.0, 9.0 - k, 1.0}));
    // Ties to even, like every other rounding of the program.
    return int(std::nearbyint(level * 255.0));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
        return 2;
    }
    QImage palette(Columns, Rows, QImage::Format_RGB888);
    for (int y = 0; y < Rows; ++y) {
        const double saturation = saturationOf(y);
        for (int x = 0; x < Columns; ++x) {
            const double hue = 360.0 * x / Columns;
            palette.setPixel(x, y,
                             qRgb(channelOf(0, hue, saturation), channelOf(8, hue, saturation),
                                  channelOf(4, hue, saturation)));
        }
    }
    if (!palette.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
