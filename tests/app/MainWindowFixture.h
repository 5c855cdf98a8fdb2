#pragma once

#include "../guard/FakeDialer.h"
#include "TestFiles.h"
#include "app/frmNV4.h"
#include "controls/TrayArea.h"
#include "news/NewsState.h"
#include "platform/MessageBox.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/ValueEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// A notification area that is there or not, and takes every icon when it is.
struct FakeArea final : TrayArea::NotificationArea {
    explicit FakeArea(bool there) : there(there) {}
    bool Notify(TrayArea::Operation, const TrayArea::Record&) override { return there; }
    bool Available() const override { return there; }
    bool there;
};

// The main window on a fake line, its program folder an empty temporary folder; message boxes
// answered in advance, sounds and info strips written to the log.
class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        Global::Reset();
        News::Reset();
        MessageBox::Script();
        savedLocale = QLocale();
    }
    void TearDown() override {
        window.reset();
        Global::Reset();
        News::Reset();
        MessageBox::Reset();
        QLocale::setDefault(savedLocale);
    }

    // On a settings file with the given content unless empty.
    frmNV4& create(const QByteArray& settings = {}) {
        window.reset();
        Global::Reset();
        if (!settings.isEmpty())
            writeSettings(settings);
        auto dialer = std::make_unique<FakeDialer>(log);
        line = dialer.get();
        for (const QString& entry :
             split("Provider=0245871200;Office=065551234;Tampered=899000111;Stranger=899000222"))
            line->entries.append({entry.section(u'=', 0, 0), entry.section(u'=', 1)});
        frmNV4::Options options{folder.path(), [this] { return administrator; }, [this] { return version; },
                                std::make_unique<FakeArea>(trayAvailable), [this] { ++ended; }};
        window = std::make_unique<frmNV4>(std::move(dialer), std::move(options));
        window->Hooks().PlaySound = [this](const QString& file) {
            EXPECT_EQ(QFileInfo(file).path(), folder.path());
            log << QStringLiteral("PlaySound %1 locked=%2 rows=%3")
                       .arg(QFileInfo(file).fileName())
                       .arg(Global::state.SettingsLockFile.isHeld())
                       .arg(Global::state.ConnectionCount);
        };
        window->Hooks().ShowInfo = [this](const QString& text, float size) {
            log << QStringLiteral("Info %1|%2").arg(text).arg(size);
        };
        return *window;
    }

    // Created and started, the log cleared; its timers stopped so that only the test drives it.
    frmNV4& load(const QByteArray& settings = {}) {
        create(settings).Form_Load();
        for (QTimer* timer : {window->tmrCycle, window->tmrLock, window->tmrInfo, window->tmrUrl})
            timer->stop();
        log.clear();
        return *window;
    }

    QString path(const QString& name) const { return folder.filePath(name); }
    static QStringList split(const char* items) { return QString::fromUtf8(items).split(u';'); }
    void writeSettings(const QByteArray& content) { writeBytes(path(QStringLiteral("nv4.ini")), content); }


    // Read with the program's lock released for a moment.
    QByteArray settingsBytes() {
        Global::UnlockSettingsFile();
        const QByteArray bytes = readBytes(path(QStringLiteral("nv4.ini")));
        Global::LockSettingsFile();
        return bytes;
    }

    // One stored connection in the settings file's own form.
    static QByteArray connection(int row, const QString& name, const QString& number, bool authorised,
                                 int up = 10, int down = 14) {
        return QStringLiteral("ConName%1=%2\r\nConNumber%1=%3\r\nConAuth%1=%4\r\nConPred%1=false\r\n"
                              "SpeedType%1=6\r\nSpeedUp%1=%5\r\nSpeedDown%1=%6\r\n")
            .arg(row)
            .arg(Global::EncodeValue(name), Global::EncodeValue(number),
                 authorised ? QStringLiteral("true") : QStringLiteral("false"))
            .arg(up)
            .arg(down)
            .toLatin1();
    }

    QTemporaryDir folder;
    QStringList log;
    QStringList sounds;
    FakeDialer* line = nullptr;
    std::unique_ptr<frmNV4> window;
    bool administrator = true;
    bool trayAvailable = false;
    quint32 version = 0x0106; // 6.1
    int ended = 0;
    QLocale savedLocale;
};
