#pragma once

#include <QString>
#include <QStringList>

// The two files the program holds locked while it runs: the phonebook (also write-protected)
// and the settings file. The program's own work on either releases the lock around it.
namespace Global {

// Holds the path locked in PhonebookLockFile; a lock already held stays as it is.
void OpenLocked(const QString& path);
// Clears the file's write bits, then locks it. Nothing for an empty path.
void LockPhonebook(const QString& path);
// Releases the lock, gives back the recorded mode and flags and the owner its write bit.
void UnlockPhonebook(const QString& path);
// Releases the lock; the write bits stay as they are.
void ClosePhonebookLock();
// Creates the settings file with its banner line when it does not exist, then locks it.
void LockSettingsFile();
void UnlockSettingsFile();
// At start: every file of paths that carries a lock record gets its recorded mode and flags back
// (a run that ended without unlocking). One line for the log per file found.
QStringList RestoreRecorded(const QStringList& paths);
// True when the file can be opened for reading: a file held locked, by anyone, counts as missing.
bool FileExists(const QString& path);

} // namespace Global
