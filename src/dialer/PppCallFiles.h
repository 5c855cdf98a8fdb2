#pragma once

#include "dialer/WvdialPhonebook.h"

#include <QStringList>

#include <optional>
#include <sys/types.h>

// The files of one pppd call, in an owner-only folder of its own under the guard's run folder:
// the chat script built from the phonebook entry, the private options file that carries the
// password, pppd's log and the record by which a restarted guard knows its pppd again. The
// folder outlives this object, as the call outlives the guard: only remove() deletes it.
// Nothing secret ever reaches a command line.
class PppCallFiles final {
public:
    // Who runs the call: pid and start time together, since a pid alone may be reused.
    struct Record {
        QString entry;
        QString dialCommand;
        pid_t pid = 0;
        quint64 startTime = 0; // /proc/PID/stat's starttime
    };

    // A new call folder under runFolder, which must exist and be private already.
    PppCallFiles(const PhonebookEntry& entry, const QString& chatProgram, const QString& runFolder);
    // The folder of a call placed earlier.
    explicit PppCallFiles(const QString& folder);
    Q_DISABLE_COPY_MOVE(PppCallFiles)

    // False when the folder or a file could not be made.
    bool isValid() const { return m_valid; }
    QString folder() const { return m_folder; }
    QString scriptPath() const;
    QString optionsPath() const;
    QString logPath() const;
    QString recordPath() const;
    // What pppd's "connect" option runs (through /bin/sh).
    QString connectCommand() const;
    // pppd's arguments for this call.
    QStringList pppdArguments() const;
    // A new, owner-only log for pppd's output: a descriptor to write to it, -1 on failure.
    int createLog() const;
    bool writeRecord(const Record& record) const;
    std::optional<Record> readRecord() const;
    // Removes the folder and everything in it.
    void remove();

    // The call folders under a run folder; nothing else that lives there.
    static QStringList callFolders(const QString& runFolder);
    // The start time of a running process; nothing for one that is gone or a zombie.
    static std::optional<quint64> startTimeOf(pid_t pid);

    static QString chatScript(const PhonebookEntry& entry);
    static QString optionsText(const PhonebookEntry& entry);
    // A chat script string: single-quoted, with chat's escapes for the characters it interprets.
    static QString chatQuoted(const QString& text);
    // A word for /bin/sh: single-quoted.
    static QString shellQuoted(const QString& text);

private:
    QString filePath(const char* name) const;

    PhonebookEntry m_entry;
    QString m_chat;
    QString m_folder;
    bool m_valid = false;
};
