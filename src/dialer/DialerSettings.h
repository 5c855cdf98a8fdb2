#pragma once

#include <QString>
#include <QStringList>

// The dial-up component's own settings, read from "dialer.conf" in the program's folder:
// plain key=value lines, "#" comments, unknown keys ignored.
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
    QString runFolder = QStringLiteral("/run/norvale-guard");
    // Executables that may hold the modem (a getty, gpsd...): absolute paths, "allow=" lines,
    // separated by blanks or commas.
    QStringList allow = {};
    // Real line: the modem fenced in the kernel; "fence=off" keeps only the userspace watch.
    bool fence = true;

    // appFolder ends in "/". A missing or malformed file gives the defaults.
    static DialerSettings read(const QString& appFolder);
};
