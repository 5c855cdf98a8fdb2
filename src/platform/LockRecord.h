#pragma once

#include <QString>

// What a file's mode and flags were before the locks changed them, kept with the file in the
// extended attribute "trusted.norvale.lock" or, where its file system keeps none, in a file of a
// folder of records. A run that ends without unlocking (a crash, a power cut) is undone at the
// next start from it, and a flag nobody recorded (an administrator's own chattr +i) is left alone.
namespace LockRecord {

inline constexpr char Attribute[] = "trusted.norvale.lock";

// Where records go for files without extended attributes; /var/lib/norvale-guard unless set.
void SetFolder(const QString& folder);
QString Folder();

// fd reaches the file (O_PATH will do). Saves its mode and flags unless a record exists already;
// false when none could be kept. owned: a new record was written.
bool Save(int fd, bool* owned = nullptr);
bool Exists(int fd);
void Remove(int fd);

enum class Restored { None, Done, Failed };
// Gives the file behind fd its recorded mode and flags back exactly and removes the record; what
// says what was done, for the log.
Restored Restore(int fd, QString* what);

} // namespace LockRecord
