#pragma once

#include "modem/DiallingProcess.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// The number a call dials, read from what its processes run: chat's script (its words or its
// -f file) and pppd's connect and init commands, from its command line and its options files.
// Files are read as the process sees them, through /proc/PID/root and /proc/PID/cwd.
// wvdial's number comes from the section it dials in its configuration.
// Whatever cannot be told for sure (a dial command hidden from the reading, a script read from a
// file at run time, a program other than chat, a second number) gives no number: a call whose
// number is unknown is no authorised call.
namespace DialledNumber {

// The dial string the processes of one call send, as they send it ("ATDT0612345678"); empty
// unless every one of them is one of the trusted programs (by Identity: the real pppd, chat and
// wvdial, whatever their names), can be read, and all dial the same number.
QString OfCall(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted);

// A regular file's device and inode ("DEV:INO"), following links; empty when there is none.
QByteArray Identity(const QByteArray& path);

// The dial string of a chat script file's text; \T stands for phone.
QString OfChatScript(const QByteArray& script, const QString& phone = {});

} // namespace DialledNumber
