#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Red, green, blue; the spread max - min; the sum max + min (255 at mid lightness).
struct Pixel {
    int r, g, b;
    int spread() const { return std::max({r, g, b}) - std::min({r, g, b}); }
    int sum() const { return std::max({r, g, b}) + std::min({r, g, b}); }
};

Pixel at(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
    return file.readAll();
}

TEST(Palette, TwentyFourBitPictureWithHueRoundTheTopAndSaturationFallingEvenly) {
    const QByteArray png = readAll(QStringLiteral(PALETTE_ASSET));
    // Eight bits per channel, colour type 2: red, green, blue without alpha.
    ASSERT_EQ(png.mid(12, 4) + png.mid(24, 2), QByteArray("IHDR\x08\x02"));
    const QImage image = QImage::fromData(png);
    ASSERT_EQ(image.size(), QSize(175, 187));
    // Round the hues along the top row from red; the picker's tests read its left column.
    double previous = -1.0;
    for (int x = 0; x < 175; ++x) {
        const Pixel c = at(image, x, 0);
        EXPECT_EQ(c.spread(), 255) << x;
        const double hue = QColor(c.r, c.g, c.b).hueF() * 360.0;
        EXPECT_GT(hue, previous) << x;
        previous = hue;
    }
    // Down every column: mid lightness, and a spread that falls by about 1.3 a row all the way.
    for (int x = 0; x < 175; x += 7) {
        for (int y = 0; y < 187; ++y) {
            EXPECT_NEAR(at(image, x, y).sum(), 255, 1) << x << "," << y;
            if (y > 0) {
                EXPECT_LE(at(image, x, y).spread(), at(image, x, y - 1).spread()) << x << "," << y;
            }
            if (y >= 31) {
                const int fall = at(image, x, y - 31).spread() - at(image, x, y).spread();
                EXPECT_TRUE(fall >= 36 && fall <= 45) << x << "," << y << ": " << fall;
            }
        }
        EXPECT_NEAR(at(image, x, 186).spread(), 9, 1) << x;
    }
}

TEST(Palette, ShippedPictureIsWhatTheMakerDrawsAndSitsNextToTheProgram) {
    QTemporaryDir folder;
    const QString made = folder.filePath(QStringLiteral("palette.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(PALETTE_MAKER), {made}), 0);
    EXPECT_EQ(QImage(made).convertToFormat(QImage::Format_RGB32),
              QImage(QStringLiteral(PALETTE_ASSET)).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(readAll(QCoreApplication::applicationDirPath() + QStringLiteral("/palette.png")),
              readAll(QStringLiteral(PALETTE_ASSET)));
}

} // namespace
