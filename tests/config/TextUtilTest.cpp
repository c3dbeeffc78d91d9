#include "TextUtil.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

TEST(TextUtil, ConversionsRoundTrip)
{
    EXPECT_EQ(WideToAnsi(QString()), "");
    EXPECT_EQ(WideToUtf8(QString()), "");
    const QString text = QString::fromUtf8("新录音-20201203100000.mp3");
    EXPECT_EQ(WideToUtf8(text), std::string("新录音-20201203100000.mp3"));
    EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
    // The converted text ends at an embedded terminator.
    EXPECT_EQ(AnsiToWide(std::string("ab\0cd", 5)), QString("ab"));
}

TEST(TextUtil, TimestampQueryWrapsTo32Bits)
{
    std::tm t{};
    t.tm_year = 2020 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 3;
    t.tm_hour = 10;
    std::tm copy = t;
    copy.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&copy);
    const uint64_t full = static_cast<uint64_t>(seconds) * 1000u + 250u;
    EXPECT_GT(full, 0xFFFFFFFFull); // the case where the wrap matters
    EXPECT_EQ(MakeTimestampQueryAt(t, 250), "?timestamp=" + std::to_string(full % 4294967296ull));

    const std::string q = MakeTimestampQuery();
    ASSERT_EQ(q.rfind("?timestamp=", 0), 0u);
    const std::string digits = q.substr(11);
    EXPECT_FALSE(digits.empty());
    EXPECT_NE(digits[0], '0');
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
}
