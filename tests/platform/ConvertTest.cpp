#include "platform/Convert.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Convert;

TEST(Convert, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(0.49999), 0.0);
    EXPECT_EQ(RoundHalfEven(-0.6), -1.0);
    EXPECT_EQ(ToInt16(32767.4), 32767);
    EXPECT_EQ(ToInt16(32767.5), 32767); // limited, not wrapped
    EXPECT_EQ(ToInt16(-40000), -32768);
    EXPECT_EQ(ToInt16(std::nan("")), 0);
    EXPECT_EQ(ToInt32(1e12), 2147483647);
    EXPECT_EQ(ToInt32(-2147483648.4), -2147483647 - 1);
    EXPECT_EQ(ToInt32(16777215.5), 16777216);
}

TEST(Convert, LeadingNumberReadsTheLongestDecimalPrefix) {
    EXPECT_EQ(LeadingNumber(u"12abc"), 12.0);
    EXPECT_EQ(LeadingNumber(u"  -7.5x"), -7.5);
    EXPECT_EQ(LeadingNumber(u"\t+3"), 3.0);
    EXPECT_EQ(LeadingNumber(u".5"), 0.5);
    EXPECT_EQ(LeadingNumber(u"1e3"), 1000.0);
    EXPECT_EQ(LeadingNumber(u"1e"), 1.0);
    EXPECT_EQ(LeadingNumber(u"1e+"), 1.0);
    EXPECT_EQ(LeadingNumber(u""), 0.0);
    EXPECT_EQ(LeadingNumber(u"*?*"), 0.0);
    EXPECT_EQ(LeadingNumber(u"-"), 0.0);
    EXPECT_EQ(LeadingNumber(u"abc12"), 0.0);
    EXPECT_EQ(LeadingNumber(u" 255"), 255.0);
    EXPECT_TRUE(std::isfinite(LeadingNumber(u"1e999")));
    EXPECT_GT(LeadingNumber(u"1e999"), 1e300);
}

TEST(Convert, TextToBooleanAcceptsWordsInAnyCaseAndNumbers) {
    EXPECT_TRUE(TextToBoolean(u"TRUE"));
    EXPECT_TRUE(TextToBoolean(u"True"));
    EXPECT_TRUE(TextToBoolean(u"1"));
    EXPECT_TRUE(TextToBoolean(u"-1"));
    EXPECT_TRUE(TextToBoolean(u" 2.5 "));
    EXPECT_FALSE(TextToBoolean(u"false"));
    EXPECT_FALSE(TextToBoolean(u"FALSE"));
    EXPECT_FALSE(TextToBoolean(u"0"));
    EXPECT_FALSE(TextToBoolean(u"yes"));
    EXPECT_FALSE(TextToBoolean(u"1abc"));
    EXPECT_FALSE(TextToBoolean(u""));
}

TEST(Convert, NumberTextPutsABlankBeforeNumbersThatAreNotNegative) {
    EXPECT_EQ(NumberText(1500), " 1500");
    EXPECT_EQ(NumberText(0), " 0");
    EXPECT_EQ(NumberText(-15), "-15");
    EXPECT_EQ(NumberText(65535), " 65535");
    EXPECT_EQ(NumberText(1440.5), " 1440.5");
    EXPECT_EQ(NumberText(-2147483648.0), "-2147483648");
}
