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

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

void PrintTo(const Rgb& c, std::ostream* os) {
    *os << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb at(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

QImage shipped() {
    QImage image(QStringLiteral(PALETTE_ASSET));
    EXPECT_FALSE(image.isNull()) << PALETTE_ASSET;
    return image;
}

TEST(Palette, IsA24BitPictureOf175By187) {
    QFile file(QStringLiteral(PALETTE_ASSET));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(26);
    ASSERT_EQ(head.size(), 26);
    EXPECT_EQ(head.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(head.mid(12, 4), QByteArray("IHDR"));
    const auto byte = [&](int i) { return int(quint8(head[i])); };
    EXPECT_EQ(byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), 175);
    EXPECT_EQ(byte(20) << 24 | byte(21) << 16 | byte(22) << 8 | byte(23), 187);
    // Eight bits per channel, colour type 2: red, green, blue without alpha.
    EXPECT_EQ(byte(24), 8);
    EXPECT_EQ(byte(25), 2);
}

TEST(Palette, DefiningPixels) {
    const QImage image = shipped();
    ASSERT_EQ(image.size(), QSize(175, 187));
    EXPECT_EQ(at(image, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(at(image, 0, 93), (Rgb{191, 64, 64}));
    EXPECT_EQ(at(image, 0, 186), (Rgb{132, 123, 123}));
}

TEST(Palette, TopRowGoesOnceRoundTheHueCircleAtFullSaturation) {
    const QImage image = shipped();
    ASSERT_EQ(image.size(), QSize(175, 187));
    double previous = -1.0;
    for (int x = 0; x < 175; ++x) {
        const Rgb c = at(image, x, 0);
        EXPECT_EQ(std::max({c.r, c.g, c.b}), 255) << x;
        EXPECT_EQ(std::min({c.r, c.g, c.b}), 0) << x;
        const double hue = QColor(c.r, c.g, c.b).hueF() * 360.0;
        EXPECT_GT(hue, previous) << x;
        previous = hue;
    }
    EXPECT_GT(previous, 355.0);
    // Yellow, green at about a third, cyan in the middle, blue, magenta, and red again past the
    // right edge: the nearest column (one column is 360/175 degrees) is within a few steps of them.
    const std::array<std::pair<int, Rgb>, 7> landmarks = {{{0, {255, 0, 0}},
                                                           {29, {255, 255, 0}},
                                                           {58, {0, 255, 0}},
                                                           {88, {0, 255, 255}},
                                                           {117, {0, 0, 255}},
                                                           {146, {255, 0, 255}},
                                                           {174, {255, 0, 0}}}};
    for (const auto& [x, colour] : landmarks) {
        const Rgb c = at(image, x, 0);
        EXPECT_NEAR(c.r, colour.r, 9) << x;
        EXPECT_NEAR(c.g, colour.g, 9) << x;
        EXPECT_NEAR(c.b, colour.b, 9) << x;
    }
}

TEST(Palette, SaturationFallsEvenlyAtMidLightness) {
    const QImage image = shipped();
    ASSERT_EQ(image.size(), QSize(175, 187));
    constexpr int Window = 31;
    for (int x = 0; x < 175; x += 7) {
        std::array<int, 187> spread{};
        for (int y = 0; y < 187; ++y) {
            const Rgb c = at(image, x, y);
            const int high = std::max({c.r, c.g, c.b}), low = std::min({c.r, c.g, c.b});
            EXPECT_NEAR(high + low, 255, 1) << x << "," << y;
            spread[size_t(y)] = high - low;
            if (y > 0) {
                EXPECT_LE(spread[size_t(y)], spread[size_t(y - 1)]) << x << "," << y;
                EXPECT_GE(spread[size_t(y)], spread[size_t(y - 1)] - 4) << x << "," << y;
            }
            // About 1.3 of 255 per row wherever one looks.
            if (y >= Window) {
                const int fall = spread[size_t(y - Window)] - spread[size_t(y)];
                EXPECT_GE(fall, 36) << x << "," << y;
                EXPECT_LE(fall, 45) << x << "," << y;
            }
        }
        EXPECT_EQ(spread[0], 255) << x;
        EXPECT_NEAR(spread[93], 127, 1) << x;
        EXPECT_NEAR(spread[186], 9, 1) << x;
    }
}

TEST(Palette, ShippedPictureIsWhatTheMakerDrawsAndSitsNextToTheProgram) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString made = folder.filePath(QStringLiteral("palette.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(PALETTE_MAKER), {made}), 0);
    const QImage drawn(made);
    ASSERT_FALSE(drawn.isNull());
    EXPECT_EQ(drawn.convertToFormat(QImage::Format_RGB32), shipped().convertToFormat(QImage::Format_RGB32));

    QFile asset(QStringLiteral(PALETTE_ASSET));
    QFile copy(QCoreApplication::applicationDirPath() + QStringLiteral("/palette.png"));
    ASSERT_TRUE(asset.open(QIODevice::ReadOnly));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), asset.readAll());
}

} // namespace
