#include "settings/ValueEncoding.h"

#include <gtest/gtest.h>

using Global::DecodeValue;
using Global::EncodeValue;

// The exact digits the settings file stores, and what hand-edited digits read as; round trips of
// any text are left to the fuzz target.
TEST(ValueEncoding, EncodesWindows1252CodesAsThreeDigitsAgainstTheKeyAndDecodesHandEditedGroups) {
    const std::pair<QString, QString> rows[] = {
        {"", ""},
        // K = 75: "K" XOR "K" is 0, "A" (65) XOR "K" is 10, then "T" (84) for the second character.
        {"K", "000"},
        {"AA", "010021"},
        {"€", QString::number(128 ^ 75)},
        // A text with a character Windows-1252 cannot hold goes as UTF-8: "ж" is D0 B6.
        {"ж", QString::number(0xD0 ^ 75) + QString::number(0xB6 ^ 84)},
    };
    for (const auto& [text, code] : rows)
        EXPECT_EQ(EncodeValue(text), code) << text.toStdString();
    // The 13th character meets the first key character again.
    EXPECT_EQ(EncodeValue(QString(13, u'K')).mid(36, 3), "000");
    // 84 bytes fill the file's 254 digits: 28 of 29 characters, a 29th never half.
    const QString han = QString(29, QChar(0x4E2D));
    EXPECT_EQ(DecodeValue(EncodeValue(han)), han.left(28));
    EXPECT_EQ(DecodeValue(EncodeValue("a" + han)), "a" + han.left(27));
    // Bytes that read as UTF-8 but say only what the code page holds stay Windows-1252.
    EXPECT_EQ(DecodeValue(EncodeValue("Ã©")), "Ã©");

    const std::pair<QString, QString> handEdited[] = {
        // A short last group is read as a number: 12 XOR "K".
        {"12", QString(QChar(12 ^ 75))},
        // A group without a number counts as 0, so the end mark decodes to one character.
        {"*?*", "K"},
        // A group that names no character becomes "?" and the rest of the text is kept.
        {"999" + EncodeValue("xyz").mid(3), "?yz"},
        {" -1", "?"},
        {"010abc021", "AT" + QString(QChar(21 ^ 'R'))},
    };
    for (const auto& [code, text] : handEdited)
        EXPECT_EQ(DecodeValue(code), text) << code.toStdString();
}
