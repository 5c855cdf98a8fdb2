#pragma once

#include "platform/FileGuard.h"
#include "platform/FileLock.h"
#include "settings/ConnectionRecord.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

// Program-wide values of the settings and protection module.
namespace Global {

inline constexpr int TableSlots = 50;
inline constexpr int MaxPhonebookEntries = 49;
inline constexpr char SettingsBanner[] = ";Norvale 4.2 - ini file";

struct State {
    QString AppFolder;    // the program's folder, ending in "/"
    QString SettingsFile; // AppFolder + "nv4.ini"
    QString PhonebookPath;

    qint32 StartColor = 255;
    qint32 EndColor = 65535;

    std::array<ConnectionRecord, TableSlots> ConnectionTable{};
    qint16 ConnectionCount = 0;
    QStringList PhonebookList;
    qint16 PhonebookCount = 0;
    QString DefaultEntryName;

    // The monitor: status line, connection, start-up flags and the news hand-over.
    QString StatusText;
    bool Connected = false;
    qint16 LineSpeedUp = 0;
    qint16 LineSpeedDown = 0;
    bool CycleStarted = false;
    bool StartingUp = false;
    QString DigitKeys;
    // Line-speed presets of the setup dialog: column 0 upload, column 1 download.
    std::array<std::array<qint16, 2>, 7> SpeedPresets{};

    // Declared before the locks, so that the locks are released before the guard goes.
    std::unique_ptr<FileGuard> Guard = std::make_unique<FileGuard>();
    FileLock PhonebookLockFile;
    FileLock SettingsLockFile;
};

inline State state;

// Back to the values of a fresh start; releases the locks.
void Reset();

} // namespace Global
