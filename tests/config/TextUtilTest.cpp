#include "TextUtil.h"

#include <gtest/gtest.h>

#include <regex>

TEST(TextUtil, TextEndsAtATerminatorAndTimestampQueriesWrapTo32Bits)
{
    EXPECT_EQ(AnsiToWide(std::string("ab\0cd", 5)), "ab");
    std::tm t{};
    t.tm_year = 2020 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 3;
    t.tm_hour = 10;
    std::tm copy = t;
    copy.tm_isdst = -1;
    const uint64_t full = static_cast<uint64_t>(std::mktime(&copy)) * 1000u + 250u; // beyond 32 bits
    EXPECT_EQ(MakeTimestampQueryAt(t, 250), "?timestamp=" + std::to_string(full % 4294967296ull));
    EXPECT_TRUE(std::regex_match(MakeTimestampQuery(), std::regex(R"(\?timestamp=[1-9]\d*)")));
}
