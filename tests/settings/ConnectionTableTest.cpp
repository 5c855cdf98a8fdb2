#include "SettingsFixture.h"

#include "dialer/DialerControl.h"
#include "settings/ConnectionTable.h"

#include <QList>

#include <algorithm>

using namespace Global;

namespace {

// A phonebook in memory: each entry's number is what EntryNumber gives once the entry is selected.
class FakeDialer final : public DialerControl {
public:
    QList<std::pair<QString, QString>> entries; // name, number
    QStringList selected;

    QString PhonebookFile() const override { return {}; }
    QString EntryName() const override { return selected.value(selected.size() - 1); }
    QString EntryNumber() const override {
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const auto& e) { return e.first == EntryName(); });
        return found == entries.end() ? QString() : found->second;
    }
    QString CallNumber() const override { return {}; }
    QString EntryUser() const override { return {}; }
    bool IsOnline() const override { return false; }
    qint16 EntryCount() const override { return qint16(entries.size()); }
    QString EntryNameAt(qint16 index) const override { return entries.value(index).first; }
    QString IpAddress() const override { return {}; }
    qint16 SelectEntry(const QString& name) override {
        selected << name;
        return 0;
    }
    qint32 BytesReceived() const override { return 0; }
    qint32 BytesSent() const override { return 0; }
    void Dial() override {}
    void HangUp() override {}
    void SetWatchOtherCalls(bool) override {}
    void SetReportEveryStage(bool) override {}
    void SetWatchInterval(qint16) override {}
};

class ListBox final : public EntryList {
public:
    QStringList lines{"stale line"};
    void clear() override { lines.clear(); }
    void addItem(const QString& name) override { lines.append(name); }
};

} // namespace

class ConnectionTableTest : public SettingsFixture {
protected:
    void setRows(const QList<ConnectionRecord>& rows) {
        std::copy(rows.begin(), rows.end(), state.ConnectionTable.begin());
        state.ConnectionCount = qint16(rows.size());
    }
    FakeDialer dialer;
    ListBox list;
};

TEST_F(ConnectionTableTest, LookupsUseTheFirstRowWithTheExactName) {
    setRows({{"Casa", "011", true, false, 3, 24, 36},
             {"casa", "022", false, true, 1, 5, 6},
             {"Casa", "033", false, true, 4, 7, 8}});
    state.ConnectionTable[3] = {"Beyond", "9", true, true, 6, 1, 2}; // above the count
    EXPECT_TRUE(IsKnown("Casa"));
    EXPECT_TRUE(IsAuthorised("Casa"));
    EXPECT_FALSE(IsDefaultEntry("Casa"));
    EXPECT_EQ(NumberOf("Casa"), "011");
    EXPECT_EQ(SpeedTypeOf("casa"), 1);
    EXPECT_EQ(SpeedOf("Casa", true), 24);
    EXPECT_EQ(SpeedOf("Casa", false), 36);
    EXPECT_FALSE(IsAuthorised("CASA"));
    for (const QString& absent : {QString("Beyond"), QString("Nessuno")}) {
        EXPECT_FALSE(IsKnown(absent));
        EXPECT_FALSE(IsAuthorised(absent));
        EXPECT_FALSE(IsDefaultEntry(absent));
        EXPECT_EQ(NumberOf(absent), "");
        EXPECT_EQ(SpeedTypeOf(absent), 0);
        EXPECT_EQ(SpeedOf(absent, true), 12);
        EXPECT_EQ(SpeedOf(absent, false), 12);
    }
    RevokeAuthorisation("Casa");
    EXPECT_FALSE(state.ConnectionTable[0].Authorised);
    RevokeAuthorisation("Beyond");
    EXPECT_TRUE(state.ConnectionTable[3].Authorised);
}

TEST_F(ConnectionTableTest, SetFieldChangesEveryRowWithTheName) {
    setRows({{"A", "1", false, true, 0, 0, 0},
             {"B", "2", false, false, 0, 0, 0},
             {"A", "3", false, false, 0, 0, 0}});
    SetField("A", FieldAuthorised, true);
    SetField("A", FieldNumber, "0190");
    SetField("A", FieldSpeedType, 4);
    SetField("A", FieldSpeedUp, "40000");
    SetField("A", FieldSpeedDown, -7);
    SetField("A", 1, true);  // not a field
    SetField("A", 99, true); // not a field
    EXPECT_EQ(state.ConnectionTable[0], (ConnectionRecord{"A", "0190", true, true, 4, 32767, -7}));
    EXPECT_EQ(state.ConnectionTable[1], (ConnectionRecord{"B", "2", false, false, 0, 0, 0}));
    EXPECT_EQ(state.ConnectionTable[2], (ConnectionRecord{"A", "0190", true, false, 4, 32767, -7}));

    const auto defaults = [] {
        return QString("%1%2%3")
            .arg(int(state.ConnectionTable[0].Default))
            .arg(int(state.ConnectionTable[1].Default))
            .arg(int(state.ConnectionTable[2].Default));
    };
    SetField("B", FieldDefault, true);
    EXPECT_EQ(defaults(), "010");
    SetField("A", FieldDefault, "True");
    EXPECT_EQ(defaults(), "101");
    // A name that no row holds still clears every mark.
    SetField("Nessuno", FieldDefault, true);
    EXPECT_EQ(defaults(), "000");
    SetField("A", FieldAuthorised, "false");
    EXPECT_FALSE(state.ConnectionTable[0].Authorised);
}

TEST_F(ConnectionTableTest, SyncRevokesChangedNumbersAndAppendsNewEntries) {
    setRows({{"Casa", "0212345678", true, true, 2, 24, 36}, {"Ufficio", "0298765", true, false, 0, 10, 14}});
    state.ConnectionTable[2].SpeedUp = 77; // what the slot held keeps its speeds
    dialer.entries = {{"Ufficio", "0899123456"}, {"Casa", "0212345678"}, {"Nuovo", "0190"}};
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines, QStringList({"Ufficio", "Casa", "Nuovo"}));
    EXPECT_EQ(state.PhonebookList, list.lines);
    EXPECT_EQ(state.PhonebookCount, 3);
    EXPECT_TRUE(IsAuthorised("Casa"));
    EXPECT_FALSE(IsAuthorised("Ufficio"));
    EXPECT_EQ(NumberOf("Ufficio"), "0298765"); // the stored number stays
    ASSERT_EQ(state.ConnectionCount, 3);
    EXPECT_EQ(state.ConnectionTable[2], (ConnectionRecord{"Nuovo", "0190", false, false, 0, 77, 0}));
    EXPECT_EQ(dialer.selected, list.lines);
}

TEST_F(ConnectionTableTest, SyncListsAtMost49EntriesAndAppendsOnlyWhileTheTableHasRoom) {
    for (int i = 0; i < 60; ++i)
        dialer.entries.append({"E" + QString::number(i), QString::number(1000 + i)});
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines.size(), 49);
    EXPECT_EQ(list.lines.last(), "E48");
    EXPECT_EQ(state.PhonebookCount, 49);
    EXPECT_EQ(state.ConnectionCount, 49);
    EXPECT_EQ(dialer.selected, list.lines);

    // The table is full now: entries are still compared, none is appended.
    SetField("E5", FieldAuthorised, true);
    SetField("E6", FieldAuthorised, true);
    dialer.entries = {{"Sconosciuto", "0190"}, {"E5", "2"}, {"E6", "1006"}};
    SyncPhonebook(list, dialer);
    EXPECT_EQ(list.lines, QStringList({"Sconosciuto", "E5", "E6"}));
    EXPECT_EQ(state.ConnectionCount, 49);
    EXPECT_FALSE(IsKnown("Sconosciuto"));
    EXPECT_FALSE(IsAuthorised("E5"));
    EXPECT_TRUE(IsAuthorised("E6"));

    dialer.entries.clear();
    SyncPhonebook(list, dialer);
    EXPECT_TRUE(list.lines.isEmpty());
    EXPECT_TRUE(state.PhonebookList.isEmpty());
    EXPECT_EQ(state.PhonebookCount, 0);
}
