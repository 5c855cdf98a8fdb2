#include "platform/SystemHelpers.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Subs;

namespace {
quint32 word(unsigned major, unsigned minor) {
    return major | (minor << 8);
}
const QLocale Italian(QLocale::Italian, QLocale::Italy);
const QLocale English(QLocale::English, QLocale::UnitedStates);
} // namespace

TEST(SystemHelpers, VersionTextCountsTheMinorVersionInHundredths) {
    EXPECT_EQ(WindowsVersionText([] { return word(5, 1); }, Italian), "5,01");
    EXPECT_EQ(WindowsVersionText([] { return word(5, 1); }, English), "5.01");
    EXPECT_EQ(WindowsVersionText([] { return word(4, 10); }, Italian), "4,10");
    EXPECT_EQ(WindowsVersionText([] { return word(6, 0); }, Italian), "6,00");
    EXPECT_EQ(WindowsVersionText([] { return word(6, 18) | 0xABCD0000u; }, Italian), "6,18");
    // Only the low 16 bits count; a major of 4 is what the start-up tests for.
    EXPECT_TRUE(WindowsVersionText([] { return word(4, 0); }, Italian).startsWith(u'4'));
}

TEST(SystemHelpers, VersionWordComesFromTheKernel) {
    utsname info{};
    ASSERT_EQ(uname(&info), 0);
    unsigned major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(info.release, "%u.%u", &major, &minor), 2);
    EXPECT_EQ(KernelVersionWord(), word(major, minor));
    EXPECT_EQ(WindowsVersionText(KernelVersionWord, English), QString::asprintf("%u.%02u", major, minor));
}

TEST(SystemHelpers, ReplaceTextReplacesEveryOccurrenceAndTrailingSlashIsAddedOnce) {
    // Letter case counts; a replacement that holds the searched text would never end: it is replaced once.
    const char* const rows[][4] = {{"5,01", ",", ".", "5.01"}, {"a,b,c", ",", ".", "a.b.c"},
                                   {"abc", ",", ".", "abc"},   {"aXbx", "X", "yy", "ayybx"},
                                   {"a,,b", ",", "", "ab"},    {"a,b", ",", ",,", "a,,b"},
                                   {"abc", "", "x", "abc"}};
    for (const auto& [text, find, replacement, result] : rows)
        EXPECT_EQ(ReplaceText(text, find, replacement), result) << text << " " << find;
    for (const auto& [path, slashed] : {std::pair{"/opt/norvale", "/opt/norvale/"},
                                        {"/", "/"},
                                        {"/opt/norvale/", "/opt/norvale/"},
                                        {"", "/"}})
        EXPECT_EQ(WithTrailingSlash(path), slashed);
}

// The groups come from the user database, not from the asking process.
TEST(SystemHelpers, GroupsOfAUserComeFromTheUserDatabase) {
    const std::optional<QStringList> root = Global::GroupNamesOf(0);
    ASSERT_TRUE(root.has_value());
    EXPECT_TRUE(root->contains(QStringLiteral("root")));
    EXPECT_FALSE(Global::GroupNamesOf(4242424).has_value());
    EXPECT_TRUE(Global::UserIsAdministrator(0));
    EXPECT_FALSE(Global::UserIsAdministrator(4242424));
}
