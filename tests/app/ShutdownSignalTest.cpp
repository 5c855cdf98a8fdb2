// The real program shuts down on SIGTERM, SIGINT and SIGHUP as it does through its exit button:
// the phonebook writable again, the settings saved and released.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ShutdownSignalTest, EverySignalRunsTheShutDown) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        // The program's folder is the one it lies in.
        const QString program = folder.filePath(QStringLiteral("norvale"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_PROGRAM), program));
        const QString book = folder.filePath(QStringLiteral("phonebook.conf"));
        {
            QFile file(book);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[Dialer Provider]\nPhone = 0245871200\n");
        }

        QProcess norvale;
        norvale.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        norvale.setProcessEnvironment(environment);
        norvale.start(program, {});
        ASSERT_TRUE(norvale.waitForStarted(10000));
        // Locked two seconds after start-up: the write bits go.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return QFileInfo::exists(book) && !(QFileInfo(book).permissions() & QFile::WriteOwner); },
            20000));

        ASSERT_EQ(::kill(pid_t(norvale.processId()), signalNumber), 0);
        ASSERT_TRUE(norvale.waitForFinished(20000));
        EXPECT_EQ(norvale.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(norvale.exitCode(), 0);
        EXPECT_TRUE(QFileInfo(book).permissions() & QFile::WriteOwner);
        QFile writable(book);
        EXPECT_TRUE(writable.open(QIODevice::Append));
        const QByteArray settings = readAll(folder.filePath(QStringLiteral("nv4.ini")));
        EXPECT_TRUE(settings.startsWith(";Norvale 4.2 - ini file\r\n[General Setup]\r\nStartColor= 255\r\n"))
            << settings.constData();
        EXPECT_TRUE(settings.contains("\r\n[Connections]\r\nConName0=")) << settings.constData();
    }
}

} // namespace
