#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
    return file.readAll();
}

// The picker's tests read the picture's left column; the maker draws the rest the same way.
TEST(Palette, ShippedPictureIsWhatTheMakerDrawsAndSitsNextToTheProgram) {
    QTemporaryDir folder;
    const QString made = folder.filePath(QStringLiteral("palette.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(PALETTE_MAKER), {made}), 0);
    EXPECT_EQ(QImage(made).convertToFormat(QImage::Format_RGB32),
              QImage(QStringLiteral(PALETTE_ASSET)).convertToFormat(QImage::Format_RGB32));
    const QByteArray shipped = readAll(QStringLiteral(PALETTE_ASSET));
    // Eight bits per channel, colour type 2: red, green, blue without alpha.
    EXPECT_EQ(shipped.mid(12, 4) + shipped.mid(24, 2), QByteArray("IHDR\x08\x02"));
    EXPECT_EQ(readAll(QCoreApplication::applicationDirPath() + QStringLiteral("/palette.png")), shipped);
}

} // namespace
