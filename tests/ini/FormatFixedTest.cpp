#include "ini/Cp1252.h"
#include "ini/FormatFixed.h"

#include <gtest/gtest.h>

using ini::FormatFixed;

TEST(FormatFixedTest, RoundsHalvesAwayFromZeroWithADot) {
    EXPECT_EQ(FormatFixed("0.00", 2.5), "2.50");
    EXPECT_EQ(FormatFixed("0", 28.5), "29");
    EXPECT_EQ(FormatFixed("0", -28.5), "-29");
    EXPECT_EQ(FormatFixed("0", 27.4999), "27");
    EXPECT_EQ(FormatFixed("0.000000", 0.006), "0.006000");
    EXPECT_EQ(FormatFixed("0.000", 1.0005), "1.001");
    EXPECT_EQ(FormatFixed("0.00", 2.675), "2.68");
    EXPECT_EQ(FormatFixed("0.00", 9.995), "10.00");
    EXPECT_EQ(FormatFixed("0.00", 0.07), "0.07");
    EXPECT_EQ(FormatFixed("0.00", -0.001), "0.00") << "no negative zero";
    EXPECT_EQ(FormatFixed("0", 0.0), "0");
    EXPECT_EQ(FormatFixed("0.000000", 1e-7), "0.000000");
    EXPECT_EQ(FormatFixed("0.00", 123456789.125), "123456789.13");
    EXPECT_EQ(FormatFixed("0", 1e20), "100000000000000000000");
}

TEST(Cp1252Test, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(ini::utf8ToCp1252(ini::cp1252ToUtf8(all)), all);
    EXPECT_EQ(ini::cp1252ToUtf8("\x80\x99"), "\u20ac\u2122");
    EXPECT_EQ(ini::utf8ToCp1252("\xC3"), "?") << "a cut UTF-8 sequence";
    EXPECT_EQ(ini::utf8ToCp1252("\xF0\x9F\x98\x80"), "?") << "outside Windows-1252";
}
