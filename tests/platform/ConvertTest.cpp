#include "platform/Convert.h"

#include <gtest/gtest.h>

using namespace Convert;

// Halves, 16-bit limits, numbers before junk and "yes" come in through the settings load test;
// here the edges a hand-edited file can also hold.
TEST(Convert, HandEditedNumbersAndWords) {
    const std::pair<const char16_t*, double> numbers[] = {{u"\t+3", 3.0}, {u".5", 0.5},  {u"1e3", 1000.0},
                                                          {u"1e", 1.0},   {u"1e+", 1.0}, {u"-", 0.0},
                                                          {u"abc12", 0.0}};
    for (const auto& [text, number] : numbers)
        EXPECT_EQ(LeadingNumber(text), number) << QString::fromUtf16(text).toStdString();
    EXPECT_GT(LeadingNumber(u"1e999"), 1e300);
    EXPECT_EQ(ToInt32(1e12), 2147483647);
    EXPECT_EQ(ToInt32(16777215.5), 16777216);
    for (const char16_t* text : {u"-1", u" 2.5 "})
        EXPECT_TRUE(TextToBoolean(text)) << QString::fromUtf16(text).toStdString();
    for (const char16_t* text : {u"FALSE", u"1abc", u"", u"nan", u"-inf"})
        EXPECT_FALSE(TextToBoolean(text)) << QString::fromUtf16(text).toStdString();
}

TEST(Convert, NumberTextPutsABlankBeforeNumbersThatAreNotNegative) {
    for (const auto& [value, text] : {std::pair{1500.0, " 1500"},
                                      {0.0, " 0"},
                                      {-15.0, "-15"},
                                      {1440.5, " 1440.5"},
                                      {-2147483648.0, "-2147483648"}})
        EXPECT_EQ(NumberText(value), text);
}
