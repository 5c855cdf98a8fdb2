#pragma once

#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

class AllowedPrograms;

// A running process that dials: the real pppd, chat or wvdial, recognised by the executable it runs
// (never by argv[0] or its command name), with the entry name its command line gives away.
struct DiallingProcess {
    pid_t pid = 0;
    QString program;       // "pppd", "chat" or "wvdial"; for another holder of the modem, its file's name
    bool dialler = false;  // it runs one of the three
    QStringList arguments; // argv, argv[0] included
    QString device;        // the modem it works on, when it can be told
    QString entryName;
    QList<pid_t> ancestors; // parent first, up to (not including) pid 1
    QString executable;     // what /proc/PID/exe names, whatever argv[0] says
    quint64 startTime = 0;  // clock ticks after boot: with the pid, this very process
    bool holdsModem = false;

    // Reads /proc/PID; nothing when the process is gone or runs none of the diallers, the programs
    // named "pppd", "chat" and "wvdial" there.
    static std::optional<DiallingProcess> inspect(pid_t pid, const AllowedPrograms& diallers);
    // A process that holds the modem, whatever it runs: program is its executable's name then.
    static std::optional<DiallingProcess> inspectHolder(pid_t pid, const QString& device,
                                                        const AllowedPrograms& diallers);
    // True when the entry name came from the command line (pppd's call or linkname, wvdial's section).
    bool namesEntry() const;
    // Every dialling process on the machine.
    static QList<DiallingProcess> scanAll(const AllowedPrograms& diallers);
    // Every process on the machine (thread-group leaders), pid 1 aside.
    static QList<pid_t> allProcessIds();
    // Every process below the given ones.
    static QList<pid_t> descendantsOf(const QSet<pid_t>& roots);
    // wvdial's section, pppd's "call" or "linkname", otherwise the program and its device.
    static QString entryNameFor(const QString& program, const QStringList& arguments, const QString& device);
};

Q_DECLARE_METATYPE(DiallingProcess)
