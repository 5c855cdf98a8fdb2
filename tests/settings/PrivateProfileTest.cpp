#include "SettingsFixture.h"

#include "platform/FileGuard.h"
#include "settings/PrivateProfile.h"

#include <QDir>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Subs;

class PrivateProfile : public SettingsFixture {
protected:
    QString ini() const { return path("test.ini"); }
    QString read(const QString& section, const QString& key, const QString& def = "DEF") const {
        return ReadIniValue(ini(), section, key, def);
    }
};

TEST_F(PrivateProfile, ReadsTrimmedUnquotedValuesInAnyLetterCase) {
    writeBytes(ini(), "; comment=not a key\r\n[ Spaced ]\r\n  key  =  value  \r\ndq=\"abc\"\nsq='abc'\r\n"
                      "inner=  \" a b \"  \r\nopen=\"abc\r\na=b=c\r\nempty=\r\nnoequals\r\n"
                      "dup=first\r\nDUP=second\r\ntab=\tx\t\r\n[spaced]\r\nother=second copy\r\n");
    // Only the first copy of a section is searched; comments are not keys.
    const char* const rows[][3] = {
        {"Spaced", "KEY", "value"},   {"SPACED", "dq", "abc"},       {"spaced", "sq", "abc"},
        {"Spaced", "inner", " a b "}, {"Spaced", "open", "\"abc"},   {"Spaced", "a", "b=c"},
        {"Spaced", "empty", ""},      {"Spaced", "noequals", "DEF"}, {"Spaced", "dup", "first"},
        {"Spaced", "tab", "x"},       {"Spaced", "other", "DEF"},    {"Spaced", "; comment", "DEF"}};
    for (const auto& [section, key, value] : rows)
        EXPECT_EQ(read(section, key), value) << key;
    // Values and defaults are cut to 254 characters; a default loses its trailing blanks.
    writeBytes(ini(), "[S]\r\nlong=" + QByteArray(300, 'x') + "\r\nexact=" + QByteArray(254, 'y') + "\r\n");
    EXPECT_EQ(read("S", "long"), QString(254, u'x'));
    EXPECT_EQ(read("S", "exact"), QString(254, u'y'));
    EXPECT_EQ(read("S", "missing", QString(300, u'd')), QString(254, u'd'));
    EXPECT_EQ(read("T", "K", "  DEF  "), "  DEF");
}

// Every other line stays as it was; the program only ever empties [Connections] before writing its rows.
TEST_F(PrivateProfile, WritingReplacesInPlaceAddsWhatIsMissingInWindows1252AndKeepsTheRest) {
    EXPECT_TRUE(WriteIniValue(ini(), "Sezione", "Città", "perché €"));
    EXPECT_EQ(readBytes(ini()), "[Sezione]\r\nCitt\xE0=perch\xE9 \x80\r\n");
    EXPECT_EQ(read("SEZIONE", "CITTÀ"), "perché €");
    EXPECT_FALSE(WriteIniValue(path("no/such/folder/x.ini"), "S", "K", "V"));

    writeBytes(ini(),
               ";top comment\n[General]\r\n  Indented = old \r\n; a comment\r\njunk line\nDup=1\r\ndup=2\r\n"
               "\r\n[Other]\r\nx=1");
    EXPECT_TRUE(WriteIniValue(ini(), "general", "INDENTED", "new"));
    EXPECT_TRUE(WriteIniValue(ini(), "GENERAL", "dup", "3"));
    // A new key goes after the section's last line, before its trailing blank lines; a new
    // section goes at the end with no blank line before it, after a line end for the last line.
    EXPECT_TRUE(WriteIniValue(ini(), "General", "Added", "a"));
    EXPECT_TRUE(WriteIniValue(ini(), "Other", "y", "2"));
    EXPECT_TRUE(WriteIniValue(ini(), "New", "empty", ""));
    EXPECT_EQ(readBytes(ini()),
              ";top comment\n[General]\r\nIndented=new\r\n; a comment\r\njunk line\nDup=3\r\n"
              "dup=2\r\nAdded=a\r\n\r\n[Other]\r\nx=1\r\ny=2\r\n[New]\r\nempty=\r\n");

    // A key only in a second copy of a section is created in the first, also behind a byte order mark.
    writeBytes(ini(), "\xEF\xBB\xBF[S]\r\na=1\r\n[Connections]\r\nConName0=1\r\n;note\r\n\r\n[s]\r\nb=2\r\n");
    EXPECT_TRUE(WriteIniValue(ini(), "S", "b", "9"));
    EXPECT_TRUE(WriteIniSection(ini(), "connections", {}, 0));
    EXPECT_TRUE(WriteIniSection(ini(), "C", {}, 0)); // a missing one gets its header
    EXPECT_EQ(readBytes(ini()),
              "\xEF\xBB\xBF[S]\r\na=1\r\nb=9\r\n[Connections]\r\n\r\n[s]\r\nb=2\r\n[C]\r\n");
}

// A save the file's immutable flag refuses is the guard's test (ReducedProtectionAndAFailedSave...); an
// nv4.ini that is a FIFO, neither waited for nor replaced, the bad-input run's (tests/reliability/badinput.sh).
TEST_F(PrivateProfile, AFailedReplacementLeavesTheOldFileWholeAndASuccessfulOneKeepsItsMode) {
    const QByteArray original = ";banner\r\n[S]\r\nK=V\r\n";
    writeBytes(ini(), original);
    ::chmod(QFile::encodeName(ini()).constData(), 0640);
    // A file size limit fails the new file's write as a full disk does (EFBIG instead of ENOSPC).
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{64, old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteIniValue(ini(), "S", "K", QString(100, u'W'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(ini()), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"test.ini"}); // no temporary left
    EXPECT_TRUE(WriteIniValue(ini(), "S", "K", "W"));
    EXPECT_EQ(readBytes(ini()), ";banner\r\n[S]\r\nK=W\r\n");
    EXPECT_EQ(modeOf(ini()), 0640u);
}

TEST_F(PrivateProfile, ABatchReplacesTheFileOnceWithWhatSingleWritesLeave) {
    const QByteArray original = ";banner\r\n[Connections]\r\nold=1\r\n";
    writeBytes(ini(), original);
    {
        IniBatch batch(ini());
        EXPECT_TRUE(WriteIniValue(ini(), "General Setup", "StartColor", " 255"));
        EXPECT_TRUE(WriteIniSection(ini(), "Connections", {}, 0));
        EXPECT_TRUE(WriteIniValue(ini(), "Connections", "ConName0", "000"));
        EXPECT_TRUE(WriteIniValue(ini(), "general setup", "EndColor", " 65535"));
        EXPECT_EQ(readBytes(ini()), original);                 // nothing written yet
        EXPECT_EQ(read("General Setup", "EndColor"), "65535"); // but read back as written
    }
    EXPECT_EQ(readBytes(ini()), ";banner\r\n[Connections]\r\nConName0=000\r\n"
                                "[General Setup]\r\nStartColor= 255\r\nEndColor= 65535\r\n");
}
