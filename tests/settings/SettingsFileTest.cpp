#include "SettingsFixture.h"

#include "settings/FileLocks.h"
#include "settings/PrivateProfile.h"
#include "settings/SettingsFile.h"
#include "settings/ValueEncoding.h"

using Global::state;

namespace {

const QByteArray Banner = ";Norvale 4.2 - ini file\r\n";

// The seven lines a connection row takes in the file.
QByteArray row(int i, const QString& name, const QString& number, const QByteArray& rest) {
    const QByteArray n = QByteArray::number(i);
    const QList<QByteArray> values = rest.split(' ');
    return "ConName" + n + "=" + Global::EncodeValue(name).toLatin1() + "\r\nConNumber" + n + "=" +
           Global::EncodeValue(number).toLatin1() + "\r\nConAuth" + n + "=" + values[0] + "\r\nConPred" + n +
           "=" + values[1] + "\r\nSpeedType" + n + "=" + values[2] + "\r\nSpeedUp" + n + "=" + values[3] +
           "\r\nSpeedDown" + n + "=" + values[4] + "\r\n";
}

} // namespace

using SettingsFile = SettingsFixture;

TEST_F(SettingsFile, FirstSaveAddsBothSectionsBelowTheBanner) {
    Global::LockSettingsFile();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), Banner);

    state.ConnectionTable[0] = {" Casa ", "0212345678", true, true, 2, 24, 36};
    const ConnectionRecord chinese{"中国电信拨号上网北京市海淀区中关村大街一", "0190 555", true, false, -3, 32767, -32768};
    state.ConnectionTable[1] = chinese;
    state.ConnectionTable[2] = {"not in the phonebook", "1", true, false, 0, 10, 14};
    state.ConnectionCount = 3;
    state.PhonebookCount = 2;
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), Banner +
                                             "[General Setup]\r\nStartColor= 255\r\nEndColor= 65535\r\n"
                                             "[Connections]\r\n" +
                                             row(0, " Casa ", "0212345678", "true true 2 24 36") +
                                             row(1, chinese.Name, "0190 555", "true false -3 32767 -32768"));
    EXPECT_EQ(state.DefaultEntryName, "Casa");
    Global::LoadConnections(); // the next start
    EXPECT_EQ(state.ConnectionTable[1], chinese);

    // The window position lands at the end of its section, before [Connections], and stays; an
    // empty phonebook leaves an empty section.
    EXPECT_TRUE(Subs::WriteIniValue(settingsFile(), "General Setup", "TopWin", " 1440"));
    state.StartColor = -16777216;
    state.ConnectionTable[0].Default = false;
    state.PhonebookCount = 0;
    Global::SaveSettings();
    Global::UnlockSettingsFile();
    EXPECT_EQ(readBytes(settingsFile()), Banner +
                                             "[General Setup]\r\nStartColor=-16777216\r\nEndColor= 65535\r\n"
                                             "TopWin= 1440\r\n[Connections]\r\n");
    EXPECT_EQ(state.DefaultEntryName, " Casa "); // only ever assigned: trimmed on save, not on load
}

TEST_F(SettingsFile, LoadStopsAtTheFirstMissingNameOrFiftyRowsAndTheLastDefaultWins) {
    const auto name = [](int i, const QString& text) {
        return "ConName" + QByteArray::number(i) + "=" + Global::EncodeValue(text).toLatin1() + "\n";
    };
    writeBytes(settingsFile(),
               "[Connections]\n" + name(0, " A ") + "ConNumber0=" + Global::EncodeValue("0190").toLatin1() +
                   "\nConAuth0=TRUE\nConPred0=1\nSpeedType0=3\nSpeedUp0=12abc\nSpeedDown0=\n" + name(1, "B") +
                   "ConAuth1=0\nConPred1=yes\nSpeedType1=2.5\nSpeedUp1=99999\nSpeedDown1=-1e9\n" +
                   name(3, "A"));
    Global::LoadConnections();
    ASSERT_EQ(state.ConnectionCount, 2);
    EXPECT_EQ(state.ConnectionTable[0], (ConnectionRecord{" A ", "0190", true, true, 3, 12, 0}));
    // A missing number decodes the end mark: one character that matches no phone number.
    // "yes" is neither true/false nor a number: not default. Speeds are limited to 16 bits.
    EXPECT_EQ(state.ConnectionTable[1], (ConnectionRecord{"B", "K", false, false, 2, 32767, -32768}));
    EXPECT_EQ(state.DefaultEntryName, " A "); // not trimmed on load

    QByteArray data = "[Connections]\n";
    for (int i = 0; i <= 50; ++i) {
        data += name(i, "E" + QByteArray::number(i));
        if (i == 10 || i == 20 || i == 50)
            data += "ConPred" + QByteArray::number(i) + "=true\n";
    }
    writeBytes(settingsFile(), data);
    Global::LoadConnections();
    EXPECT_EQ(state.ConnectionCount, 50);
    EXPECT_EQ(state.ConnectionTable[49], (ConnectionRecord{"E49", "K", false, false, 0, 10, 14}));
    EXPECT_EQ(state.DefaultEntryName, "E20");

    // A missing file loads no rows and leaves the default name as it was.
    QFile::remove(settingsFile());
    Global::LoadConnections();
    EXPECT_EQ(state.ConnectionCount, 0);
    EXPECT_EQ(state.DefaultEntryName, "E20");
    EXPECT_FALSE(QFile::exists(settingsFile()));
}
