#include "SettingsFixture.h"

#include "dialer/SimulatedDialer.h"
#include "settings/ConnectionTable.h"

using namespace Global;

namespace {

class ListBox final : public EntryList {
public:
    QStringList lines{"stale line"};
    void clear() override { lines.clear(); }
    void addItem(const QString& name) override { lines.append(name); }
};

void writePhonebook(const QString& file, const QList<std::pair<QString, QString>>& entries) {
    QByteArray bytes;
    for (const auto& [name, number] : entries)
        bytes += "[Dialer " + name.toUtf8() + "]\nPhone = " + number.toUtf8() + "\n";
    writeBytes(file, bytes);
}

} // namespace

using ConnectionTableTest = SettingsFixture;

// Lookups take the first row with the exact name among the counted ones; a change goes to every one.
TEST_F(ConnectionTableTest, SetFieldChangesEveryRowWithTheNameAndLookupsTakeTheFirst) {
    std::ranges::copy(QList<ConnectionRecord>{{"A", "1", false, true, 0, 0, 0},
                                              {"B", "2", false, false, 0, 0, 0},
                                              {"A", "3", false, false, 0, 0, 0},
                                              {"Beyond", "9", true, true, 6, 1, 2}},
                      state.ConnectionTable.begin());
    state.ConnectionCount = 3;
    EXPECT_EQ(NumberOf("A"), "1");
    EXPECT_EQ(NumberOf("a"), "");
    EXPECT_FALSE(IsKnown("Beyond") || IsAuthorised("Beyond") || IsDefaultEntry("Beyond"));
    EXPECT_EQ(SpeedOf("Beyond", true), 12);
    SetField("A", FieldAuthorised, true);
    SetField("A", FieldNumber, "0190");
    SetField("A", FieldSpeedType, 4);
    SetField("A", FieldSpeedUp, "40000");
    SetField("A", FieldSpeedDown, -7);
    SetField("Beyond", FieldNumber, "0");
    EXPECT_EQ(state.ConnectionTable[0], (ConnectionRecord{"A", "0190", true, true, 4, 32767, -7}));
    EXPECT_EQ(state.ConnectionTable[1], (ConnectionRecord{"B", "2", false, false, 0, 0, 0}));
    EXPECT_EQ(state.ConnectionTable[2], (ConnectionRecord{"A", "0190", true, false, 4, 32767, -7}));
    EXPECT_EQ(state.ConnectionTable[3].Number, "9");
    EXPECT_EQ(SpeedOf("A", false), -7);

    // One default at most; a name that no row holds still clears every mark.
    const auto defaults = [] {
        QString marks;
        for (int i = 0; i < 3; ++i)
            marks += QString::number(int(state.ConnectionTable[i].Default));
        return marks;
    };
    for (const auto& [name, value, marks] : {std::tuple{"B", QVariant(true), "010"},
                                             {"A", QVariant("True"), "101"},
                                             {"Nessuno", QVariant(true), "000"}}) {
        SetField(name, FieldDefault, value);
        EXPECT_EQ(defaults(), marks) << name;
    }
}

TEST_F(ConnectionTableTest, SyncRevokesChangedNumbersAndAppendsNewEntriesWhileThereIsRoom) {
    state.ConnectionTable[0] = {"Casa", "0212345678", true, true, 2, 24, 36};
    state.ConnectionTable[1] = {"Ufficio", "0298765", true, false, 0, 10, 14};
    state.ConnectionTable[2].SpeedUp = 77; // what the slot held keeps its speeds
    state.ConnectionCount = 2;
    const QString book = path("wvdial.conf");
    SimulatedDialer dialer({.phonebook = book}, dir.path());
    ListBox list;
    writePhonebook(book, {{"Ufficio", "0899123456"}, {"Casa", "0212345678"}, {"Nuovo", "0190"}});
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines, QStringList({"Ufficio", "Casa", "Nuovo"}));
    EXPECT_EQ(state.PhonebookList, list.lines);
    EXPECT_TRUE(IsAuthorised("Casa"));
    EXPECT_FALSE(IsAuthorised("Ufficio"));
    EXPECT_EQ(NumberOf("Ufficio"), "0298765"); // the stored number stays
    ASSERT_EQ(state.ConnectionCount, 3);
    EXPECT_EQ(state.ConnectionTable[2], (ConnectionRecord{"Nuovo", "0190", false, false, 0, 77, 0}));

    // At most 49 entries are listed and stored; a full table still compares them, appends none.
    state.ConnectionCount = 0;
    QList<std::pair<QString, QString>> sixty;
    for (int i = 0; i < 60; ++i)
        sixty.append({"E" + QString::number(i), QString::number(1000 + i)});
    writePhonebook(book, sixty);
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines.size(), 49);
    EXPECT_EQ(state.PhonebookCount, 49);
    EXPECT_EQ(state.ConnectionCount, 49);
    SetField("E5", FieldAuthorised, true);
    SetField("E6", FieldAuthorised, true);
    writePhonebook(book, {{"Sconosciuto", "0190"}, {"E5", "2"}, {"E6", "1006"}});
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines, QStringList({"Sconosciuto", "E5", "E6"}));
    EXPECT_EQ(state.PhonebookCount, 3);
    EXPECT_EQ(state.ConnectionCount, 49);
    EXPECT_FALSE(IsKnown("Sconosciuto"));
    EXPECT_FALSE(IsAuthorised("E5"));
    EXPECT_TRUE(IsAuthorised("E6"));
}
