#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

// Red, green, blue; the spread max - min; the sum max + min (255 at mid lightness).
struct Pixel {
    int r, g, b;
    int spread() const { return std::max({r, g, b}) - std::min({r, g, b}); }
    int sum() const { return std::max({r, g, b}) + std::min({r, g, b}); }
    bool operator==(const Pixel&) const = default;
};

void PrintTo(const Pixel& c, std::ostream* os) {
    *os << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Pixel at(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
    return file.readAll();
}

TEST(Palette, TwentyFourBitPictureWithItsDefiningPixels) {
    const QByteArray png = readAll(QStringLiteral(PALETTE_ASSET));
    ASSERT_GT(png.size(), 26);
    EXPECT_EQ(png.mid(12, 4), QByteArray("IHDR"));
    // Eight bits per channel, colour type 2: red, green, blue without alpha.
    EXPECT_EQ(int(png[24]), 8);
    EXPECT_EQ(int(png[25]), 2);

    const QImage image = QImage::fromData(png);
    ASSERT_EQ(image.size(), QSize(175, 187));
    EXPECT_EQ(at(image, 0, 0), (Pixel{255, 0, 0}));
    EXPECT_EQ(at(image, 0, 93), (Pixel{191, 64, 64}));
    EXPECT_EQ(at(image, 0, 186), (Pixel{132, 123, 123}));
}

TEST(Palette, HueOnceRoundTheTopRowSaturationFallingEvenly) {
    const QImage image(QStringLiteral(PALETTE_ASSET));
    ASSERT_EQ(image.size(), QSize(175, 187));
    double previous = -1.0;
    for (int x = 0; x < 175; ++x) {
        const Pixel c = at(image, x, 0);
        EXPECT_EQ(c.spread(), 255) << x;
        const double hue = QColor(c.r, c.g, c.b).hueF() * 360.0;
        EXPECT_GT(hue, previous) << x;
        previous = hue;
    }
    // Red, yellow, green at about a third, cyan in the middle, blue, magenta, nearly red again.
    const std::array<std::pair<int, Pixel>, 7> landmarks = {{{0, {255, 0, 0}},
                                                             {29, {255, 255, 0}},
                                                             {58, {0, 255, 0}},
                                                             {88, {0, 255, 255}},
                                                             {117, {0, 0, 255}},
                                                             {146, {255, 0, 255}},
                                                             {174, {255, 0, 0}}}};
    for (const auto& [x, colour] : landmarks) {
        const Pixel c = at(image, x, 0);
        EXPECT_LE(std::max({std::abs(c.r - colour.r), std::abs(c.g - colour.g), std::abs(c.b - colour.b)}), 9)
            << x;
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
    ASSERT_TRUE(folder.isValid());
    const QString made = folder.filePath(QStringLiteral("palette.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(PALETTE_MAKER), {made}), 0);
    EXPECT_EQ(QImage(made).convertToFormat(QImage::Format_RGB32),
              QImage(QStringLiteral(PALETTE_ASSET)).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(readAll(QCoreApplication::applicationDirPath() + QStringLiteral("/palette.png")),
              readAll(QStringLiteral(PALETTE_ASSET)));
}

} // namespace
