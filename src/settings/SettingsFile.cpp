#include "settings/SettingsFile.h"

#include "platform/Convert.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/PrivateProfile.h"
#include "settings/ValueEncoding.h"

namespace Global {
namespace {

const QString Connections = QStringLiteral("Connections");
const QString GeneralSetup = QStringLiteral("General Setup");
const QString EndMark = QStringLiteral("*?*");

QString readConnection(const QString& stem, int row, const QString& defaultText) {
    return Subs::ReadIniValue(state.SettingsFile, Connections, stem + QString::number(row), defaultText);
}

qint16 readSpeed(const QString& stem, int row, const QString& defaultText) {
    return Convert::ToInt16(Convert::LeadingNumber(readConnection(stem, row, defaultText)));
}

void writeConnection(const QString& stem, int row, const QString& value) {
    Subs::WriteIniValue(state.SettingsFile, Connections, stem + QString::number(row), value);
}

QString booleanText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

void LoadConnections() {
    // One read of the file for the whole table: a huge hand-made file is split once, not once a key.
    Subs::IniBatch batch(state.SettingsFile);
    state.ConnectionCount = 0;
    for (int i = 0; i < TableSlots; ++i) {
        const QString name = readConnection(QStringLiteral("ConName"), i, EndMark);
        if (name == EndMark)
            break;
        ConnectionRecord& row = state.ConnectionTable[i];
        row.Name = DecodeValue(name);
        row.Number = DecodeValue(readConnection(QStringLiteral("ConNumber"), i, EndMark));
        row.Authorised = Convert::TextToBoolean(readConnection(QStringLiteral("ConAuth"), i, "false"));
        row.Default = Convert::TextToBoolean(readConnection(QStringLiteral("ConPred"), i, "false"));
        if (row.Default)
            state.DefaultEntryName = row.Name;
        row.SpeedType = readSpeed(QStringLiteral("SpeedType"), i, "0");
        row.SpeedUp = readSpeed(QStringLiteral("SpeedUp"), i, "10");
        row.SpeedDown = readSpeed(QStringLiteral("SpeedDown"), i, "14");
        ++state.ConnectionCount;
    }
}

bool SaveSettings() {
    UnlockSettingsFile();
    bool saved = false;
    {
        // Up to 49 rows of seven keys: one replacement of the file instead of one per key.
        Subs::IniBatch batch(state.SettingsFile);
        Subs::WriteIniValue(state.SettingsFile, GeneralSetup, QStringLiteral("StartColor"),
                            Convert::NumberText(state.StartColor));
        Subs::WriteIniValue(state.SettingsFile, GeneralSetup, QStringLiteral("EndColor"),
                            Convert::NumberText(state.EndColor));
        Subs::WriteIniSection(state.SettingsFile, Connections, {}, 0);
        for (int i = 0; i < state.PhonebookCount && i < TableSlots; ++i) {
            const ConnectionRecord& row = state.ConnectionTable[i];
            writeConnection(QStringLiteral("ConName"), i, EncodeValue(row.Name));
            writeConnection(QStringLiteral("ConNumber"), i, EncodeValue(row.Number));
            writeConnection(QStringLiteral("ConAuth"), i, booleanText(row.Authorised));
            writeConnection(QStringLiteral("ConPred"), i, booleanText(row.Default));
            writeConnection(QStringLiteral("SpeedType"), i, QString::number(row.SpeedType));
            writeConnection(QStringLiteral("SpeedUp"), i, QString::number(row.SpeedUp));
            writeConnection(QStringLiteral("SpeedDown"), i, QString::number(row.SpeedDown));
            if (row.Default)
                state.DefaultEntryName = row.Name.trimmed();
        }
        saved = batch.commit();
    }
    LockSettingsFile();
    return saved;
}

} // namespace Global
