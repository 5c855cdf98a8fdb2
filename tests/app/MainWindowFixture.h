#pragma once

#include "news/NewsState.h"
#include "FakeDialer.h"
#include "app/frmNV4.h"
#include "controls/TrayArea.h"
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
class FakeArea final : public TrayArea::NotificationArea {
public:
    explicit FakeArea(bool available) : available_(available) {}
    bool Notify(TrayArea::Operation, const TrayArea::Record&) override { return available_; }
    bool Available() const override { return available_; }

private:
    bool available_;
};

// The main window on a fake line, its program folder an empty temporary folder; message boxes
// answered in advance, sounds and info strips written down.
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

    frmNV4& create() {
        auto dialer = std::make_unique<FakeDialer>(log);
        line = dialer.get();
        line->entries = {{QStringLiteral("Provider"), QStringLiteral("0245871200")},
                         {QStringLiteral("Office"), QStringLiteral("065551234")}};
        frmNV4::Options options;
        options.programFolder = folder.path();
        options.isAdministrator = [this] { return administrator; };
        options.version = [this] { return version; };
        options.notificationArea = std::make_unique<FakeArea>(trayAvailable);
        options.endProgram = [this] { ++ended; };
        window = std::make_unique<frmNV4>(std::move(dialer), std::move(options));
        window->Hooks().PlaySound = [this](const QString& path) {
            log << QStringLiteral("PlaySound %1 locked=%2 rows=%3")
                       .arg(QFileInfo(path).fileName())
                       .arg(Global::state.SettingsLockFile.isHeld())
                       .arg(Global::state.ConnectionCount);
            sounds << path;
        };
        window->Hooks().ShowInfo = [this](const QString& text, float size) {
            infos << QStringLiteral("%1|%2").arg(text).arg(size);
        };
        return *window;
    }

    // Created and started; its timers stopped so that only the test drives it.
    frmNV4& load() {
        create();
        window->Form_Load();
        for (QTimer* timer : {window->tmrCycle, window->tmrLock, window->tmrInfo, window->tmrUrl})
            timer->stop();
        return *window;
    }

    QString path(const QString& name) const { return folder.filePath(name); }

    void writeSettings(const QByteArray& content) {
        QFile file(path(QStringLiteral("nv4.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    // The settings file as it is on disk, read while the program's lock is released.
    QByteArray settingsBytes() {
        const bool held = Global::state.SettingsLockFile.isHeld();
        Global::UnlockSettingsFile();
        QFile file(path(QStringLiteral("nv4.ini")));
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (held)
            Global::LockSettingsFile();
        return content;
    }

    // One stored connection in the settings file's own form.
    static QByteArray connection(int row, const QString& name, const QString& number, bool authorised,
                                 int up = 10, int down = 14) {
        const QByteArray n = QByteArray::number(row);
        return "ConName" + n + "=" + Global::EncodeValue(name).toLatin1() + "\r\nConNumber" + n + "=" +
               Global::EncodeValue(number).toLatin1() + "\r\nConAuth" + n + "=" +
               (authorised ? "true" : "false") + "\r\nConPred" + n + "=false\r\nSpeedType" + n +
               "=6\r\nSpeedUp" + n + "=" + QByteArray::number(up) + "\r\nSpeedDown" + n + "=" +
               QByteArray::number(down) + "\r\n";
    }

    QTemporaryDir folder;
    QStringList log;
    QStringList sounds;
    QStringList infos;
    FakeDialer* line = nullptr;
    std::unique_ptr<frmNV4> window;
    bool administrator = true;
    bool trayAvailable = false;
    quint32 version = 0x0106; // 6.1
    int ended = 0;
    QLocale savedLocale;
};
