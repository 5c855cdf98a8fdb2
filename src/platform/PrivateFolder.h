#pragma once

#include <QString>

namespace Subs {

// Makes the folder if it is missing and checks that it is one only this process's user can reach:
// a real folder (no symlink), owned by the effective user, mode 0700 (a wider mode is narrowed).
// False, with the reason in why, when it is not and cannot be made so.
bool EnsurePrivateFolder(const QString& path, QString* why = nullptr);

} // namespace Subs
