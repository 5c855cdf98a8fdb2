#include "platform/Convert.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Convert;

TEST(Convert, RoundsHalvesToTheEvenNeighbourAndLimitsInsteadOfWrapping) {
    for (const auto& [value, rounded] :
         {std::pair{2.5, 2.0}, {3.5, 4.0}, {-2.5, -2.0}, {-3.5, -4.0}, {0.49999, 0.0}, {-0.6, -1.0}})
        EXPECT_EQ(RoundHalfEven(value), rounded) << value;
    EXPECT_EQ(ToInt16(32767.4), 32767);
    EXPECT_EQ(ToInt16(32767.5), 32767);
    EXPECT_EQ(ToInt16(-40000), -32768);
    EXPECT_EQ(ToInt16(std::nan("")), 0);
    EXPECT_EQ(ToInt32(1e12), 2147483647);
    EXPECT_EQ(ToInt32(-2147483648.4), -2147483647 - 1);
    EXPECT_EQ(ToInt32(16777215.5), 16777216);
}

TEST(Convert, LeadingNumberReadsTheLongestDecimalPrefix) {
    const std::pair<const char16_t*, double> rows[] = {
        {u"12abc", 12.0}, {u"  -7.5x", -7.5}, {u"\t+3", 3.0},  {u".5", 0.5},
        {u"1e3", 1000.0}, {u"1e", 1.0},       {u"1e+", 1.0},   {u"", 0.0},
        {u"*?*", 0.0},    {u"-", 0.0},        {u"abc12", 0.0}, {u" 255", 255.0}};
    for (const auto& [text, number] : rows)
        EXPECT_EQ(LeadingNumber(text), number) << QString::fromUtf16(text).toStdString();
    EXPECT_TRUE(std::isfinite(LeadingNumber(u"1e999")));
    EXPECT_GT(LeadingNumber(u"1e999"), 1e300);
}

TEST(Convert, TextToBooleanAcceptsWordsInAnyCaseAndNumbers) {
    for (const char16_t* text : {u"TRUE", u"True", u"1", u"-1", u" 2.5 "})
        EXPECT_TRUE(TextToBoolean(text)) << QString::fromUtf16(text).toStdString();
    for (const char16_t* text : {u"false", u"FALSE", u"0", u"yes", u"1abc", u"", u"nan", u"inf", u"-inf", u"INF"})
        EXPECT_FALSE(TextToBoolean(text)) << QString::fromUtf16(text).toStdString();
}

TEST(Convert, NumberTextPutsABlankBeforeNumbersThatAreNotNegative) {
    for (const auto& [value, text] : {std::pair{1500.0, " 1500"},
                                      {0.0, " 0"},
                                      {-15.0, "-15"},
                                      {65535.0, " 65535"},
                                      {1440.5, " 1440.5"},
                                      {-2147483648.0, "-2147483648"}})
        EXPECT_EQ(NumberText(value), text);
}
