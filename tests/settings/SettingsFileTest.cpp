#include "SettingsFixture.h"

#include "settings/FileLocks.h"
#include "settings/PrivateProfile.h"
#include "settings/SettingsFile.h"
#include "settings/ValueEncoding.h"

using Global::state;

class SettingsFile : public SettingsFixture {
protected:
    void addRow(int i, const QString& name, const QString& number, bool authorised, bool isDefault,
                qint16 type = 0, qint16 up = 10, qint16 down = 14) {
        state.ConnectionTable[i] = {name, number, authorised, isDefault, type, up, down};
    }
    QByteArray row(int i, const QString& name, const QString& number, const char* auth, const char* pred,
                   const char* type, const char* up, const char* down) {
        const QByteArray n = QByteArray::number(i);
        return "ConName" + n + "=" + Global::EncodeValue(name).toLatin1() + "\r\nConNumber" + n + "=" +
               Global::EncodeValue(number).toLatin1() + "\r\nConAuth" + n + "=" + auth + "\r\nConPred" + n +
               "=" + pred + "\r\nSpeedType" + n + "=" + type + "\r\nSpeedUp" + n + "=" + up +
               "\r\nSpeedDown" + n + "=" + down + "\r\n";
    }
};

TEST_F(SettingsFile, FirstSaveAddsBothSectionsBelowTheBanner) {
    Global::LockSettingsFile();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), ";Norvale 4.2 - ini file\r\n");

    int repaints = 0;
    state.RepaintHook = [&] { ++repaints; };
    addRow(0, "Casa", "0212345678", true, true, 2, 24, 36);
    addRow(1, "Città €", "0190 555", false, false, -3, 32767, -32768);
    addRow(2, "not in the phonebook", "1", true, false);
    state.ConnectionCount = 3;
    state.PhonebookCount = 2;
    Global::SaveSettings();
    EXPECT_EQ(repaints, 1);
    Global::UnlockSettingsFile();

    const QByteArray expected = ";Norvale 4.2 - ini file\r\n"
                                "[General Setup]\r\n"
                                "StartColor= 255\r\n"
                                "EndColor= 65535\r\n"
                                "[Connections]\r\n" +
                                row(0, "Casa", "0212345678", "true", "true", "2", "24", "36") +
                                row(1, "Città €", "0190 555", "false", "false", "-3", "32767", "-32768");
    EXPECT_EQ(readBytes(settingsFile()), expected);
    EXPECT_EQ(state.DefaultEntryName, "Casa");

    // The window position lands at the end of its section, before [Connections].
    EXPECT_TRUE(Subs::WriteIniValue(settingsFile(), "General Setup", "TopWin", " 1440"));
    EXPECT_TRUE(Subs::WriteIniValue(settingsFile(), "General Setup", "LeftWin", " 2880"));
    // A second save rewrites the rows in place of the old ones and keeps the position keys.
    state.StartColor = -16777216;
    state.PhonebookCount = 1;
    state.ConnectionTable[0].Default = false;
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), ";Norvale 4.2 - ini file\r\n"
                                         "[General Setup]\r\n"
                                         "StartColor=-16777216\r\n"
                                         "EndColor= 65535\r\n"
                                         "TopWin= 1440\r\n"
                                         "LeftWin= 2880\r\n"
                                         "[Connections]\r\n" +
                                             row(0, "Casa", "0212345678", "true", "false", "2", "24", "36"));
    // DefaultEntryName is only ever assigned.
    EXPECT_EQ(state.DefaultEntryName, "Casa");
}

TEST_F(SettingsFile, SavingWithAnEmptyPhonebookLeavesAnEmptyConnectionsSection) {
    writeBytes(settingsFile(), ";Norvale 4.2 - ini file\r\n[Connections]\r\nConName0=000\r\nConAuth0=true\r\n");
    addRow(0, "K", "1", true, true);
    state.ConnectionCount = 1;
    state.PhonebookCount = 0;
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), ";Norvale 4.2 - ini file\r\n[Connections]\r\n"
                                         "[General Setup]\r\nStartColor= 255\r\nEndColor= 65535\r\n");
}

TEST_F(SettingsFile, DefaultNameIsTrimmedOnSaveButNotOnLoad) {
    addRow(0, "  Spazi  ", "1", false, true);
    state.ConnectionCount = state.PhonebookCount = 1;
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    EXPECT_EQ(state.DefaultEntryName, "Spazi");
    Global::Reset();
    state.SettingsFile = path("nv4.ini");
    Global::LoadConnections();
    EXPECT_EQ(state.ConnectionTable[0].Name, "  Spazi  ");
    EXPECT_EQ(state.DefaultEntryName, "  Spazi  ");
}

TEST_F(SettingsFile, LoadStopsAtTheFirstMissingNameAndKeepsRowsAboveTheCount) {
    const QByteArray a = Global::EncodeValue("A").toLatin1(), b = Global::EncodeValue("B").toLatin1();
    writeBytes(settingsFile(), "[Connections]\n"
                               "ConName0=" + a + "\nConNumber0=" + Global::EncodeValue("0190").toLatin1() +
                               "\nConAuth0=TRUE\nConPred0=1\nSpeedType0=3\nSpeedUp0=12abc\nSpeedDown0=\n"
                               "ConName1=" + b + "\nConAuth1=0\nConPred1=yes\nSpeedType1=2.5\n"
                               "SpeedUp1=99999\nSpeedDown1=-1e9\n"
                               "ConName3=" + a + "\n");
    state.ConnectionTable[2].Name = "left over";
    state.ConnectionCount = 7;
    Global::LoadConnections();
    ASSERT_EQ(state.ConnectionCount, 2);
    EXPECT_EQ(state.ConnectionTable[0], (ConnectionRecord{"A", "0190", true, true, 3, 12, 0}));
    // A missing number decodes the end mark: one character that matches no phone number.
    // "yes" is neither true/false nor a number: not default. Speeds are limited to 16 bits.
    EXPECT_EQ(state.ConnectionTable[1], (ConnectionRecord{"B", "K", false, false, 2, 32767, -32768}));
    EXPECT_EQ(state.ConnectionTable[2].Name, "left over");
    EXPECT_EQ(state.DefaultEntryName, "A");
}

TEST_F(SettingsFile, LoadReadsAtMostFiftyRowsAndTheLastDefaultWins) {
    QByteArray data = "[Connections]\r\n";
    for (int i = 0; i <= 50; ++i) {
        const QByteArray n = QByteArray::number(i);
        data += "ConName" + n + "=" + Global::EncodeValue("E" + QString::number(i)).toLatin1() + "\r\n";
        if (i == 10 || i == 20 || i == 50)
            data += "ConPred" + n + "=true\r\n";
    }
    writeBytes(settingsFile(), data);
    state.DefaultEntryName = "kept when no row is default";
    Global::LoadConnections();
    EXPECT_EQ(state.ConnectionCount, 50);
    EXPECT_EQ(state.ConnectionTable[49].Name, "E49");
    EXPECT_EQ(state.ConnectionTable[49].SpeedUp, 10);
    EXPECT_EQ(state.ConnectionTable[49].SpeedDown, 14);
    EXPECT_EQ(state.DefaultEntryName, "E20");
}

TEST_F(SettingsFile, MissingFileLoadsNoRows) {
    state.ConnectionCount = 4;
    state.DefaultEntryName = "X";
    Global::LoadConnections();
    EXPECT_EQ(state.ConnectionCount, 0);
    EXPECT_EQ(state.DefaultEntryName, "X");
    EXPECT_FALSE(QFile::exists(settingsFile()));
}
