#pragma once

#include <QByteArray>
#include <QString>

// Root acts on paths that other users may have had a hand in. These judge a path by who could
// have changed what it names, one name at a time, never by the whole name looked up again.
namespace Subs {

// For the locks, which chmod and chattr as root: path resolved with no symbolic link at all and
// only through folders where nobody but root (or this process's user) can rename what lies on the
// way: a folder of another owner, or writable by its group or by all without the sticky bit, or
// sticky and open to all while the next name is another user's, is refused. An O_PATH
// descriptor, or -1 with errno (ELOOP for a link, EPERM for a folder) and the reason in why.
int ResolveForLocking(const QString& path, QString* why = nullptr);

// For a device root makes its own: as above, but following the links of root or of this process's
// user, as /dev/modem may be; another user's link gives ELOOP.
int ResolveWithOwnLinks(const QString& path, QString* why = nullptr);

// The name that reaches a descriptor's file again, without a second lookup of the path.
QByteArray DescriptorPath(int fd);

// True when only root and this process's user can change what path names: it and every folder on
// the way belong to them, and nobody else may write to them (a sticky folder such as /tmp aside),
// and so do the links on the way. Otherwise false, with the reason in why.
bool OnlyOwnersCanChange(const QString& path, QString* why = nullptr);

} // namespace Subs
