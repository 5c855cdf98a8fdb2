#pragma once

#include <QByteArray>
#include <QString>

// Root acts on paths that other users may have had a hand in. These judge a path by who could
// have changed what it names, one name at a time, never by the whole name looked up again.
namespace Subs {

// Resolves path following only the symbolic links that belong to root or to this process's user:
// another user's link, anywhere on the way, could point a chmod or chattr by root at any file.
// An O_PATH descriptor of what the path names, or -1 with errno (ELOOP for another user's link).
int ResolveWithOwnLinks(const QString& path);

// The regular file that path names, resolved as above, opened with flags; -1 with errno otherwise.
int OpenRegularWithOwnLinks(const QString& path, int flags);

// The name that reaches a descriptor's file again, without a second lookup of the path.
QByteArray DescriptorPath(int fd);

// True when only root and this process's user can change what path names: it and every folder on
// the way belong to them, and nobody else may write to them (a sticky folder such as /tmp aside),
// and so do the links on the way. Otherwise false, with the reason in why.
bool OnlyOwnersCanChange(const QString& path, QString* why = nullptr);

} // namespace Subs
