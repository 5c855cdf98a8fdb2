#pragma once

#include "TestFiles.h"
#include "settings/Global.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// A fresh program state with the settings file in an empty temporary folder.
class SettingsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Global::Reset();
        Global::state.AppFolder = dir.path() + u'/';
        Global::state.SettingsFile = dir.filePath(QStringLiteral("nv4.ini"));
    }
    void TearDown() override { Global::Reset(); }

    QString path(const QString& name) const { return dir.filePath(name); }
    const QString& settingsFile() const { return Global::state.SettingsFile; }

    QTemporaryDir dir;
};
