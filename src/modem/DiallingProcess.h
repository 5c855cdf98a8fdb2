#pragma once

#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// A running process that dials: pppd, chat or wvdial, recognised by its executable or its
// argv[0], with the entry name its command line gives away.
struct DiallingProcess {
    pid_t pid = 0;
    QString program;       // "pppd", "chat" or "wvdial"
    QStringList arguments; // argv, argv[0] included
    QString device;        // the modem it works on, when it can be told
    QString entryName;
    QList<pid_t> ancestors; // parent first, up to (not including) pid 1
    QString executable;     // what /proc/PID/exe names, whatever argv[0] says
    quint64 startTime = 0;  // clock ticks after boot: with the pid, this very process
    bool holdsModem = false;

    // Reads /proc/PID; nothing when the process is gone or is not a dialling program.
    static std::optional<DiallingProcess> inspect(pid_t pid);
    // A process that holds the modem, whatever it runs: program is its executable's name then.
    static std::optional<DiallingProcess> inspectHolder(pid_t pid, const QString& device);
    // True when the entry name came from the command line (pppd's call or linkname, wvdial's section).
    bool namesEntry() const;
    // Every dialling process on the machine.
    static QList<DiallingProcess> scanAll();
    // Every process on the machine (thread-group leaders), pid 1 aside.
    static QList<pid_t> allProcessIds();
    // Every process below the given ones.
    static QList<pid_t> descendantsOf(const QSet<pid_t>& roots);
    // "pppd", "chat", "wvdial" for those programs' paths or names; empty otherwise.
    static QString programKind(const QString& pathOrName);
    // wvdial's section, pppd's "call" or "linkname", otherwise the program and its device.
    static QString entryNameFor(const QString& program, const QStringList& arguments, const QString& device);
};

Q_DECLARE_METATYPE(DiallingProcess)
