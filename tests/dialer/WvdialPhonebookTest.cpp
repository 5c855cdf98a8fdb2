#include "TestApp.h"

#include "dialer/WvdialPhonebook.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

// The phonebook of that content, read from a file.
WvdialPhonebook read(const QByteArray& content) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("wvdial.conf"), content);
    return WvdialPhonebook::read(dir.filePath("wvdial.conf"));
}

// "name|number|user|password|modem|baud|inits|dial command" of an entry, or "missing".
QString summary(const WvdialPhonebook& book, const QString& name) {
    const auto e = book.entry(name);
    if (!e)
        return "missing";
    return QString("%1|%2|%3|%4|%5|%6|%7|%8")
        .arg(e->name, e->number, e->user, e->password, e->modem)
        .arg(e->baud)
        .arg(e->inits.join('+'), e->dialCommand);
}

} // namespace

TEST(WvdialPhonebook, ResolvesInheritsDefaultsAndBuiltInDefaults) {
    const WvdialPhonebook book =
        read("# comment\r\n[dialer DEFAULTS]\r\nModem = /dev/ttyS1\r\nUsername = everybody\r\n"
             "Inherits = Dialer Never\r\n\r\n"
             "[Dialer Base]\n  dial prefix =  9 \nArea Code = 02\nPhone = 111\nInit = ATZ0\n"
             "Init3 = ATM0\nInherits = Modem Setup\n"
             "[Modem Setup]\nBaud = 115200\n"
             "[Dialer Never]\nPassword = from-never\n"
             "[Dialer Child]\nINHERITS = dialer base\nPhone = 222\nDial Prefix =\n"
             "Username = {child user}\nPassword = \"a\\\\b\\c\"\n"
             "[dialer base]\nPhone = 333\n");
    EXPECT_EQ(book.entryNames(), (QStringList{"Base", "Never", "Child"})); // the defaults are no entry
    // A repeated section merges into the first and its later line wins; the prefix gets a pause.
    // [Dialer Defaults] is read on its own: its Inherits is not followed for other entries.
    EXPECT_EQ(summary(book, "BASE"), "Base|9,02333|everybody||/dev/ttyS1|115200|ATZ0+ATM0|ATDT");
    // An empty value set in the entry hides the inherited one.
    EXPECT_EQ(summary(book, "Child"), "Child|02222|child user|a\\bc|/dev/ttyS1|115200|ATZ0+ATM0|ATDT");
    EXPECT_EQ(summary(book, "dEFAULTS"), "missing");
    EXPECT_EQ(summary(book, "Modem Setup"), "missing");
}

TEST(WvdialPhonebook, ReadsNumbersAndBooleansAsWvdialDoesAndCutsInheritsLoops) {
    for (const auto& [text, number] :
         {std::pair{"yes", 1}, {" 12abc", 12}, {"-3", -3}, {"maybe", 0}, {"99999999999999", 2147483647}})
        EXPECT_EQ(WvdialPhonebook::toInt(text), number) << text;

    const WvdialPhonebook book = read("[Dialer A]\nInherits = Dialer B\nPhone = 1\n"
                                      "[Dialer B]\nInherits = Dialer C\nUsername = b\n"
                                      "[Dialer C]\nInherits = Dialer A\n"
                                      "[Dialer Self]\nInherits = Dialer Self\n"
                                      "[Dialer Defaults]\nPassword = d\n");
    EXPECT_EQ(summary(book, "C"), "C|1|b|d|/dev/modem|57600|ATZ|ATDT");
    EXPECT_EQ(summary(book, "Self"), "Self|||d|/dev/modem|57600|ATZ|ATDT");
}

TEST(WvdialPhonebook, MalformedFilesListWhatCanBeRead) {
    QByteArray junk(200000, '\0');
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(junk.data()), junk.size() / 4);
    const WvdialPhonebook book = read("[Dialer First]\nPhone = 1\n" + junk +
                                      "\n[Dialer Long]\nPhone = " + QByteArray(10 * 1024 * 1024, '7') +
                                      "\nUsername = long\n[Dialer Last]\nPhone = 3\n[]\nPhone = "
                                      "orphan\n=novalue\n[Dialer \xff\xfe]\n[Dialer");
    const QStringList names = book.entryNames();
    ASSERT_GE(names.size(), 4);
    EXPECT_EQ(names.front(), "First");
    EXPECT_EQ(names.back(), "\ufffd\ufffd");
    EXPECT_TRUE(summary(book, "Long").startsWith("Long||long|")) << summary(book, "Long").toStdString();
    EXPECT_TRUE(summary(book, "Last").startsWith("Last|3|")) << summary(book, "Last").toStdString();

    QTemporaryDir dir;
    for (const QString& path : {dir.filePath("absent.conf"), dir.path(), QString()})
        EXPECT_TRUE(WvdialPhonebook::read(path).entryNames().isEmpty()) << path.toStdString();
}
