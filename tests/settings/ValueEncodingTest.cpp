#include "settings/ValueEncoding.h"
#include "settings/Cp1252.h"

#include <gtest/gtest.h>

#include <algorithm>

using Global::DecodeValue;
using Global::EncodeValue;

TEST(ValueEncoding, EncodesEachCharacterAsThreeDigitsAgainstTheKey) {
    EXPECT_EQ(Subs::ZeroPad("7", 3), "007");
    EXPECT_EQ(Subs::ZeroPad("255", 3), "255");
    EXPECT_EQ(Subs::ZeroPad("1234", 3), "1234"); // never cut
    EXPECT_EQ(Subs::ZeroPad("", 2), "00");
    EXPECT_EQ(EncodeValue(""), "");
    EXPECT_EQ(DecodeValue(""), "");
    // K = 75: "K" XOR "K" is 0, "A" (65) XOR "K" is 10, then "T" (84) for the second character.
    EXPECT_EQ(EncodeValue("K"), "000");
    EXPECT_EQ(EncodeValue("AA"), "010021");
    // The 13th character meets the first key character again, and so does the 25th.
    EXPECT_EQ(EncodeValue(QString(13, u'K')).mid(36, 3), "000");
    EXPECT_EQ(EncodeValue(QString(25, u'K')).mid(72, 3), "000");
    const QString code = EncodeValue("Casa 0190-123456, è €");
    EXPECT_EQ(code.size(), 3 * 21);
    EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](QChar c) { return c.isDigit(); }))
        << code.toStdString();
}

TEST(ValueEncoding, UsesWindows1252CodesAndRoundTripsEveryOne) {
    // "è" is 232 and "€" is 128 in Windows-1252; XOR with "K" (75).
    EXPECT_EQ(EncodeValue("è"), QString::number(232 ^ 75));
    EXPECT_EQ(EncodeValue("€"), QString::number(128 ^ 75));
    // A text with a character Windows-1252 cannot hold goes as UTF-8: "ж" is D0 B6.
    EXPECT_EQ(EncodeValue("ж"), QString::number(0xD0 ^ 75) + QString::number(0xB6 ^ 84));
    EXPECT_EQ(DecodeValue(EncodeValue("aжb? è")), "aжb? è");
    EXPECT_EQ(DecodeValue(EncodeValue(QString::fromUcs4(U"\U0001F600"))), QString::fromUcs4(U"\U0001F600"));
    // Bytes that read as UTF-8 but say only what the code page holds stay Windows-1252.
    EXPECT_EQ(DecodeValue(EncodeValue("Ã©")), "Ã©");
    // 84 bytes fill the file's 254 digits: 28 of 29 characters, a 29th never half.
    const QString han = QString(29, QChar(0x4E2D));
    EXPECT_EQ(EncodeValue(han).size(), 252);
    EXPECT_EQ(DecodeValue(EncodeValue(han)), han.left(28));
    EXPECT_EQ(DecodeValue(EncodeValue("a" + han)), "a" + han.left(27));

    QString all;
    for (int code = 0; code < 256; ++code)
        all += Cp1252::CharOf(static_cast<unsigned char>(code));
    const QByteArray bytes = Cp1252::FromUnicode(all);
    ASSERT_EQ(bytes.size(), 256);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(static_cast<unsigned char>(bytes[code]), code);
    EXPECT_EQ(DecodeValue(EncodeValue(all)), all);
    EXPECT_EQ(all[128], QChar(0x20AC));
    EXPECT_EQ(all[0x81], QChar(0x81));
    EXPECT_EQ(DecodeValue(EncodeValue("Tiscali Città – “56k” ½ ÿ")), "Tiscali Città – “56k” ½ ÿ");
}

TEST(ValueEncoding, DecodesShortAndHandEditedGroups) {
    // A short last group is read as a number: 12 XOR "K".
    EXPECT_EQ(DecodeValue("12"), QString(QChar(12 ^ 75)));
    // A group without a number counts as 0, so the end mark decodes to one character.
    EXPECT_EQ(DecodeValue("*?*"), "K");
    // A group that names no character becomes "?" and the rest of the text is kept.
    EXPECT_EQ(DecodeValue("999" + EncodeValue("xyz").mid(3)), "?yz");
    EXPECT_EQ(DecodeValue(" -1"), "?");
    EXPECT_EQ(DecodeValue("010"
                          "abc"
                          "021"),
              "AT" + QString(QChar(21 ^ 'R')));
}
