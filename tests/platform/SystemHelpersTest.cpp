#include "platform/InstallFolders.h"
#include "platform/SystemHelpers.h"
#include "platform/TrustedPath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Subs;

// The groups come from the user database, not from the asking process.
TEST(SystemHelpers, GroupsOfAUserComeFromTheUserDatabase) {
    EXPECT_TRUE(Global::GroupNamesOf(0).value_or(QStringList()).contains(QStringLiteral("root")));
    EXPECT_FALSE(Global::GroupNamesOf(4242424).has_value());
}

// Who could change what a path names: the folders the guard runs in and takes programs from.
TEST(SystemHelpers, OnlyAPathThatNoOtherUserCanChangeIsTrusted) {
    QTemporaryDir dir;
    if (geteuid() != 0)
        GTEST_SKIP() << "folders of another user need root to make";
    // Root's folder in the sticky temporary folder, as an installation under /tmp would be.
    ASSERT_TRUE(OnlyOwnersCanChange(dir.path())) << qPrintable(dir.path());
    const auto make = [&](const char* name, mode_t mode, uid_t owner, const char* target = nullptr) {
        const QByteArray path = QFile::encodeName(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE((target ? ::symlink(target, path.constData()) == 0
                            : ::mkdir(path.constData(), mode) == 0 && ::chmod(path.constData(), mode) == 0) &&
                    ::lchown(path.constData(), owner, owner) == 0)
            << name;
    };
    for (const auto& [name, mode, owner] : {std::tuple{"root", 0755, 0u},
                                            {"user", 0755, 65534u},
                                            {"user/root", 0755, 0u},
                                            {"open", 0757, 0u},
                                            {"group", 0775, 0u},
                                            {"sticky", 01777, 0u},
                                            {"sticky/root", 0755, 0u}})
        make(name, mode_t(mode), owner);
    make("roots-link", 0, 0, "root");
    make("users-link", 0, 65534, "root");
    make("root/up-and-in", 0, 0, "../user/root");
    const struct {
        const char* path;
        const char* why; // empty: trusted
    } rows[] = {
        {"root", ""},
        {"sticky/root", ""},
        {"roots-link", ""},
        {"roots-link/.", ""},
        {"user/root", "user belongs to uid 65534"},
        {"root/up-and-in", "root/up-and-in/../user belongs to uid 65534"},
        {"open", "open can be written by others than its owner"},
        {"group", "group can be written by others than its owner"},
        {"users-link", "users-link is a link of uid 65534"},
        {"missing", "missing: No such file or directory"},
    };
    for (const auto& row : rows) {
        QString why;
        const bool trusted = OnlyOwnersCanChange(dir.filePath(QString::fromLatin1(row.path)), &why);
        EXPECT_EQ(trusted ? std::string() : why.mid(dir.path().size() + 1).toStdString(), row.why)
            << row.path;
    }
}

// However the system's folders are written, a throw-away guard keeps out of them: the options test's
// (tests/install/options-test.sh), which runs it in a staged prefix; here, a name that only begins alike.
TEST(InstallFolders, AFolderThatOnlyBeginsLikeTheSystemsIsNotIt) {
    EXPECT_FALSE(InstallFolders::InOne("/run/norvale2").sharesSystemFolders());
}
