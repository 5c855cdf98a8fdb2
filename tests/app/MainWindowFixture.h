#pragma once

#include "FakeGuard.h"
#include "TestFiles.h"
#include "app/GuardClient.h"
#include "app/frmNV4.h"
#include "controls/TrayArea.h"
#include "news/NewsState.h"
#include "platform/MessageBox.h"
#include "settings/Global.h"

#include <QFileInfo>
#include <QLabel>
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

// The main window in an empty temporary program folder, with a guard the test plays; message boxes
// answered in advance, sounds and info strips written to the log.
class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        MessageBox::Script();
    }
    void TearDown() override {
        window.reset();
        Global::Reset();
        News::Reset();
        MessageBox::Reset();
        QLocale::setDefault(savedLocale);
    }

    frmNV4& create() {
        window.reset();
        Global::Reset();
        frmNV4::Options options{folder.path(), [this] { return administrator; }, [this] { return version; },
                                std::make_unique<FakeArea>(trayAvailable), [this] { ++ended; }, {}, {}};
        window = std::make_unique<frmNV4>(std::move(options));
        window->Hooks().PlaySound = [this](const QString& file) {
            EXPECT_EQ(QFileInfo(file).path(), folder.path());
            log << QStringLiteral("PlaySound ") + QFileInfo(file).fileName();
        };
        window->Hooks().ShowInfo = [this](const QString& text, float size) {
            log << QStringLiteral("Info %1|%2").arg(text).arg(size);
        };
        return *window;
    }

    // Started and greeted by the guard, the log cleared; its timers stopped so that only the test
    // drives it.
    frmNV4& load() {
        create().Form_Load();
        EXPECT_TRUE(FakeGuard::until([this] { return window->Guard().IsConnected(); }));
        for (QTimer* timer : {window->tmrCycle, window->tmrLock, window->tmrInfo, window->tmrUrl})
            timer->stop();
        log.clear();
        return *window;
    }

    // The status text as StatusText, the tray tooltip, lblInfo(0)'s tooltip and lblStatus show it:
    // once when all four agree.
    QString shown() const {
        const QStringList all{Global::state.StatusText, window->tryDialer->ToolTip(),
                              window->lblInfo[0]->toolTip(), window->lblStatus->text()};
        return all.count(all[0]) == 4 ? all[0] : all.join(u'/');
    }

    QTemporaryDir folder;
    FakeGuard guard{folder.path()};
    QStringList log;
    std::unique_ptr<frmNV4> window;
    bool administrator = true;
    bool trayAvailable = false;
    quint32 version = 0x0106; // 6.1
    int ended = 0;
    const QLocale savedLocale;
};
