#pragma once

#include <QString>

// The two files the program holds locked while it runs: the phonebook (also write-protected)
// and the settings file. The program's own work on either releases the lock around it.
namespace Global {

// Holds the path locked in PhonebookLockFile; a lock already held stays as it is.
void OpenLocked(const QString& path);
// Clears the file's write bits, then locks it. Nothing for an empty path.
void LockPhonebook(const QString& path);
// Releases the lock and gives the owner its write bit back; read permissions stay as they are.
void UnlockPhonebook(const QString& path);
// Releases the lock; the write bits stay as they are.
void ClosePhonebookLock();
// Creates the settings file with its banner line when it does not exist, then locks it.
void LockSettingsFile();
void UnlockSettingsFile();
// True when the file can be opened for reading: a file held locked, by anyone, counts as missing.
bool FileExists(const QString& path);

} // namespace Global
