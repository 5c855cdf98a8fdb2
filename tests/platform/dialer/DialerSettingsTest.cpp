#include "platform/dialer/CreateDialer.h"
#include "platform/dialer/DialerSettings.h"
#include "platform/dialer/PppDialer.h"
#include "platform/dialer/SimulatedDialer.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

TEST(DialerSettings, MissingFileGivesSimulatedLineWithTheSamplePhonebook) {
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    const DialerSettings settings = DialerSettings::read(folder);
    EXPECT_EQ(settings.backend, DialerSettings::Backend::Simulated);
    EXPECT_EQ(settings.stageMs, 1000);
    EXPECT_EQ(settings.downBps, 5000);
    EXPECT_EQ(settings.upBps, 1200);
    ASSERT_EQ(settings.phonebook, folder + QStringLiteral("phonebook.conf"));
    // The sample is copied byte for byte from the one shipped next to the program.
    const QByteArray sample = readAll(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() +
                                      QStringLiteral("/phonebook.sample.conf"));
    ASSERT_FALSE(sample.isEmpty());
    EXPECT_EQ(readAll(settings.phonebook), sample);

    // An existing phonebook is never replaced.
    writeAll(settings.phonebook, "[Dialer Mine]\n");
    EXPECT_EQ(DialerSettings::read(folder).phonebook, settings.phonebook);
    EXPECT_EQ(readAll(settings.phonebook), QByteArray("[Dialer Mine]\n"));
}

TEST(DialerSettings, MalformedFileKeepsWhatIsValid) {
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeAll(folder + QStringLiteral("phonebook.conf"), "[Dialer X]\n");
    writeAll(folder + QStringLiteral("dialer.conf"), QByteArray(1, '\0') +
                                                         "\x01\xff garbage without equals\r\n"
                                                         "# stage_ms=5\r\n"
                                                         "stage_ms = 40\r\n"
                                                         "STAGE_MS=oops\r\n"
                                                         "down_bps=-5\r\n"
                                                         "up_bps= 99999999999\r\n"
                                                         "backend=modem\r\n"
                                                         "=7\r\n"
                                                         "colour=blue\r\n"
                                                         "chat = /opt/chat\r\n"
                                                         "pppd=\r\n" +
                                                         QByteArray(200000, 'z') + "\nstage_ms=3\n");
    const DialerSettings settings = DialerSettings::read(folder);
    EXPECT_EQ(settings.backend, DialerSettings::Backend::Simulated);
    // The over-long line is left out and the lines after it still count.
    EXPECT_EQ(settings.stageMs, 3);
    EXPECT_EQ(settings.downBps, 5000);
    EXPECT_EQ(settings.upBps, 1200);
    EXPECT_EQ(settings.chat, QStringLiteral("/opt/chat"));
    EXPECT_EQ(settings.pppd, QStringLiteral("pppd"));
    EXPECT_EQ(settings.phonebook, folder + QStringLiteral("phonebook.conf"));
}

TEST(DialerSettings, ConfiguredPhonebookMustExist) {
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeAll(folder + QStringLiteral("dialer.conf"),
             "backend = ppp\nphonebook=book.conf\nstage_ms=0\ndown_bps=10\nup_bps=0\n");
    DialerSettings settings = DialerSettings::read(folder);
    EXPECT_EQ(settings.backend, DialerSettings::Backend::Ppp);
    EXPECT_EQ(settings.phonebook, QString());
    EXPECT_EQ(settings.stageMs, 0);
    EXPECT_EQ(settings.downBps, 10);
    EXPECT_EQ(settings.upBps, 0);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("phonebook.conf")));

    writeAll(folder + QStringLiteral("book.conf"), "");
    EXPECT_EQ(DialerSettings::read(folder).phonebook, folder + QStringLiteral("book.conf"));

    writeAll(folder + QStringLiteral("dialer.conf"), "backend=ppp\n");
    const QString system = QStringLiteral("/etc/wvdial.conf");
    EXPECT_EQ(DialerSettings::read(folder).phonebook, QFileInfo(system).isFile() ? system : QString());
}

TEST(DialerSettings, TheBackendComesFromTheSettings) {
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    EXPECT_NE(dynamic_cast<SimulatedDialer*>(CreateDialer(folder).get()), nullptr);
    writeAll(folder + QStringLiteral("dialer.conf"), "# the real modem\nbackend=ppp\nphonebook=" +
                                                         QFile::encodeName(folder) + "phonebook.conf\n");
    const auto real = CreateDialer(folder);
    EXPECT_NE(dynamic_cast<PppDialer*>(real.get()), nullptr);
    EXPECT_EQ(real->PhonebookFile(), folder + QStringLiteral("phonebook.conf"));
}
