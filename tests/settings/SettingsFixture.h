#pragma once

#include "settings/Global.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(data), data.size());
}

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
