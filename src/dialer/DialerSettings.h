#pragma once

#include "platform/InstallFolders.h"

#include <QString>
#include <QStringList>

// The dial-up component's own settings, read from "dialer.conf" in the administrator's settings
// folder: plain key=value lines, "#" comments, unknown keys ignored.
struct DialerSettings {
    enum class Backend { Simulated, Ppp };

    Backend backend = Backend::Simulated;
    // Resolved phonebook path; empty when a configured phonebook does not exist.
    QString phonebook;
    // Simulated line: time between two stages of a call, mean traffic while connected.
    int stageMs = 1000;
    int downBps = 5000;
    int upBps = 1200;
    // Real line: the programs to run.
    QString pppd = QStringLiteral("pppd");
    QString chat = QStringLiteral("chat");
    // Not a key of the file: the guard's owner-only folder for the files of its calls.
    QString runFolder = QStringLiteral("/run/norvale/private");
    // Executables that may hold the modem (a getty, gpsd...): absolute paths, "allow=" lines,
    // separated by blanks or commas.
    QStringList allow = {};
    // Real line: the modem fenced in the kernel; "fence=off" keeps only the userspace watch.
    bool fence = true;

    // A missing or malformed file gives the defaults. The built-in line's phonebook is kept in the
    // state folder, made from the sample of the data folder when missing.
    static DialerSettings read(const InstallFolders& folders);
    // Every file in one folder.
    static DialerSettings read(const QString& folder) { return read(InstallFolders::InOne(folder)); }
};
