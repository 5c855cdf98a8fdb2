#pragma once

#include "dialer/WvdialPhonebook.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The files of one pppd call: the chat script built from the phonebook entry and the private
// options file that carries the password, in an owner-only folder that disappears with this
// object. Nothing secret ever reaches a command line.
class PppCallFiles final {
public:
    PppCallFiles(const PhonebookEntry& entry, const QString& chatProgram);
    ~PppCallFiles();
    Q_DISABLE_COPY_MOVE(PppCallFiles)

    // False when the folder or a file could not be made.
    bool isValid() const { return m_valid; }
    QString scriptPath() const;
    QString optionsPath() const;
    // What pppd's "connect" option runs (through /bin/sh).
    QString connectCommand() const;
    // pppd's arguments for this call.
    QStringList pppdArguments() const;
    // Removes the folder and everything in it at once.
    void remove();

    static QString chatScript(const PhonebookEntry& entry);
    static QString optionsText(const PhonebookEntry& entry);
    // A chat script string: single-quoted, with chat's escapes for the characters it interprets.
    static QString chatQuoted(const QString& text);
    // A word for /bin/sh: single-quoted.
    static QString shellQuoted(const QString& text);

private:
    PhonebookEntry m_entry;
    QString m_chat;
    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_valid = false;
};
