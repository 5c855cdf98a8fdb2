#include "platform/dialer/WvdialPhonebook.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& content) {
    const QString path = dir.filePath(QStringLiteral("wvdial.conf"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    return path;
}

} // namespace

TEST(WvdialPhonebook, ResolvesInheritsDefaultsAndBuiltInDefaults) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, "# comment\r\n"
                                        "[Dialer Defaults]\r\n"
                                        "Modem = /dev/ttyS1\r\n"
                                        "Username = everybody\r\n"
                                        "Inherits = Dialer Never\r\n"
                                        "\r\n"
                                        "[Dialer Base]\n"
                                        "  dial prefix =  9 \n"
                                        "Area Code = 02\n"
                                        "Phone = 111\n"
                                        "Init = ATZ0\n"
                                        "Init3 = ATM0\n"
                                        "Inherits = Modem Setup\n"
                                        "[Modem Setup]\n"
                                        "Baud = 115200\n"
                                        "[Dialer Never]\n"
                                        "Password = from-never\n"
                                        "[Dialer Child]\n"
                                        "INHERITS = dialer base\n"
                                        "Phone = 222\n"
                                        "Dial Prefix =\n"
                                        "Username = {child user}\n"
                                        "Password = \"a\\\\b\\c\"\n"
                                        "[dialer base]\n"
                                        "Phone = 333\n");
    const WvdialPhonebook book = WvdialPhonebook::read(path);
    EXPECT_EQ(book.entryNames(), (QStringList{QStringLiteral("Defaults"), QStringLiteral("Base"),
                                              QStringLiteral("Never"), QStringLiteral("Child")}));

    // A repeated section merges into the first and its later line wins; the prefix gets a pause.
    const auto base = book.entry(QStringLiteral("BASE"));
    ASSERT_TRUE(base);
    EXPECT_EQ(base->name, QStringLiteral("Base"));
    EXPECT_EQ(base->number, QStringLiteral("9,02333"));
    EXPECT_EQ(base->user, QStringLiteral("everybody"));
    EXPECT_EQ(base->modem, QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(base->baud, 115200);
    EXPECT_EQ(base->inits, (QStringList{QStringLiteral("ATZ0"), QStringLiteral("ATM0")}));
    EXPECT_EQ(base->dialCommand, QStringLiteral("ATDT"));
    // [Dialer Defaults] is read on its own: its Inherits is not followed for other entries.
    EXPECT_EQ(base->password, QString());

    // An empty value set in the entry hides the inherited one.
    const auto child = book.entry(QStringLiteral("Child"));
    ASSERT_TRUE(child);
    EXPECT_EQ(child->number, QStringLiteral("02222"));
    EXPECT_EQ(child->user, QStringLiteral("child user"));
    EXPECT_EQ(child->password, QStringLiteral("a\\bc"));
    EXPECT_EQ(child->baud, 115200);

    const auto defaults = book.entry(QStringLiteral("Defaults"));
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->password, QStringLiteral("from-never"));
    EXPECT_EQ(defaults->baud, 57600);
    EXPECT_EQ(defaults->inits, QStringList{QStringLiteral("ATZ")});
    EXPECT_EQ(defaults->number, QString());

    EXPECT_FALSE(book.entry(QStringLiteral("Modem Setup")));
    EXPECT_FALSE(book.entry(QStringLiteral("Missing")));
    EXPECT_EQ(book.value(QStringLiteral("Child"), QStringLiteral("baud")), QStringLiteral("115200"));
    EXPECT_FALSE(book.value(QStringLiteral("Child"), QStringLiteral("Stupid Mode")));
}

TEST(WvdialPhonebook, ReadsBooleansAsWvdialDoes) {
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("None")), 0);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("OFF")), 0);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("yes")), 1);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral(" 12abc")), 12);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("-3")), -3);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("maybe")), 0);
    EXPECT_EQ(WvdialPhonebook::toInt(QStringLiteral("99999999999999")), 2147483647);
}

TEST(WvdialPhonebook, InheritsLoopIsCut) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, "[Dialer A]\nInherits = Dialer B\nPhone = 1\n"
                                        "[Dialer B]\nInherits = Dialer C\nUsername = b\n"
                                        "[Dialer C]\nInherits = Dialer A\n"
                                        "[Dialer Self]\nInherits = Dialer Self\n"
                                        "[Dialer Defaults]\nPassword = d\n");
    const WvdialPhonebook book = WvdialPhonebook::read(path);
    const auto c = book.entry(QStringLiteral("C"));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->number, QStringLiteral("1"));
    EXPECT_EQ(c->user, QStringLiteral("b"));
    EXPECT_EQ(c->password, QStringLiteral("d"));
    const auto self = book.entry(QStringLiteral("Self"));
    ASSERT_TRUE(self);
    EXPECT_EQ(self->modem, QStringLiteral("/dev/modem"));
}

TEST(WvdialPhonebook, MalformedFilesListWhatCanBeRead) {
    QTemporaryDir dir;
    QByteArray junk(200000, '\0');
    QRandomGenerator random(42);
    for (char& c : junk)
        c = char(random.bounded(256));
    QByteArray content = "[Dialer First]\nPhone = 1\n" + junk + "\n";
    content += "[Dialer Long]\nPhone = " + QByteArray(10 * 1024 * 1024, '7') + "\nUsername = long\n";
    content += "[Dialer Last]\nPhone = 3\n[]\nPhone = orphan\n=novalue\n[Dialer \xff\xfe]\n[Dialer";
    const WvdialPhonebook book = WvdialPhonebook::read(writeFile(dir, content));
    const QStringList names = book.entryNames();
    ASSERT_GE(names.size(), 4);
    EXPECT_EQ(names.front(), QStringLiteral("First"));
    EXPECT_TRUE(names.contains(QStringLiteral("Long")));
    EXPECT_EQ(names.back(), QStringLiteral("\ufffd\ufffd"));
    const auto first = book.entry(QStringLiteral("First"));
    ASSERT_TRUE(first);
    const auto longEntry = book.entry(QStringLiteral("Long"));
    ASSERT_TRUE(longEntry);
    EXPECT_EQ(longEntry->number, QString());
    EXPECT_EQ(longEntry->user, QStringLiteral("long"));
    const auto last = book.entry(QStringLiteral("Last"));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->number, QStringLiteral("3"));

    EXPECT_TRUE(WvdialPhonebook::read(dir.filePath(QStringLiteral("absent.conf"))).entryNames().isEmpty());
    EXPECT_TRUE(WvdialPhonebook::read(dir.path()).entryNames().isEmpty());
    EXPECT_TRUE(WvdialPhonebook::read(QString()).entryNames().isEmpty());
}

TEST(WvdialPhonebook, ThousandsOfEntriesKeepFileOrder) {
    QTemporaryDir dir;
    QByteArray content;
    for (int i = 0; i < 5000; ++i)
        content += "[Dialer E" + QByteArray::number(i) + "]\nPhone = " + QByteArray::number(i) + "\n";
    const WvdialPhonebook book = WvdialPhonebook::read(writeFile(dir, content));
    ASSERT_EQ(book.entryNames().size(), 5000);
    EXPECT_EQ(book.entryNames().at(4321), QStringLiteral("E4321"));
    EXPECT_EQ(book.entry(QStringLiteral("E4999"))->number, QStringLiteral("4999"));
}
