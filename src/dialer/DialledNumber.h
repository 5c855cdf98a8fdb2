#pragma once

#include "modem/DiallingProcess.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The number a call dials, read from what its processes run: chat's script (its words or its
// -f file) and pppd's connect and init commands, from its command line and its options files.
// Files are read as the process sees them, through /proc/PID/root and /proc/PID/cwd, with its
// file-system ids, and never here: CallNumberReader reads them in a child process that can be killed.
// wvdial's number comes from the section it dials in its configuration.
// Whatever cannot be told for sure (a dial command hidden from the reading, a script read from a
// file at run time, a program other than chat, a second number) gives no number: a call whose
// number is unknown is no authorised call.
namespace DialledNumber {

// One look at what a process of the call names: a file's bytes, or the identity ("DEV:INO") of the
// regular file a path leads to, links followed.
struct Look {
    pid_t pid = 0;
    QString path; // relative to the process's folder, or absolute in its root
    bool identity = false;
    bool operator==(const Look&) const = default;
};
size_t qHash(const Look& look, size_t seed = 0);
// The looks made so far: nothing for one that found nothing to read.
using Answers = QHash<Look, std::optional<QByteArray>>;

// One pass over a call's processes with the looks made so far.
struct Pass {
    QString number;     // once nothing is wanted: the dial string, empty when it cannot be told
    QList<Look> wanted; // looks still to be made before the number can be told
};

// The dial string the processes of one call send, as they send it ("ATDT0612345678"); empty
// unless every one of them is one of the trusted programs (by Identity: the real pppd, chat and
// wvdial, whatever their names), can be read, and all dial the same number.
Pass Evaluate(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted, const Answers& answers);

// A regular file's device and inode ("DEV:INO"), following links; empty when there is none.
QByteArray Identity(const QByteArray& path);

// The dial string of a chat script file's text; \T stands for phone.
QString OfChatScript(const QByteArray& script, const QString& phone = {});

} // namespace DialledNumber
