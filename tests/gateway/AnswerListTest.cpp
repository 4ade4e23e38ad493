#include <gtest/gtest.h>

#include "gateway/AnswerList.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"

namespace tidewell {
namespace {

TAnswerList Answer(std::string_view body) {
    TAnswerList answer;
    answer.SetText(body);
    return answer;
}

TEST(AnswerList, StatusIsExactlyZeroUnderAnyLetterCaseAndTheFirstLineWins) {
    EXPECT_TRUE(Answer("status=0").Succeeded());
    EXPECT_TRUE(Answer("Status=0\r\nSTATUS=1").Succeeded());
    EXPECT_FALSE(Answer("STATUS=1\r\nSTATUS=0").Succeeded());
    EXPECT_FALSE(Answer("STATUS= 0").Succeeded());
    EXPECT_FALSE(Answer("STATUS=0 ").Succeeded());
    EXPECT_FALSE(Answer("STATUS=00").Succeeded());
    EXPECT_FALSE(Answer("STATUS=").Succeeded());
    EXPECT_FALSE(Answer("<html><body>STATUS=0</body></html>").Succeeded());
    EXPECT_FALSE(Answer("").Succeeded());
}

TEST(AnswerList, LinesEndAtAnyLineBreakAndAZeroByteEndsTheText) {
    const TAnswerList answer =
        Answer(std::string_view("A=1\rB=2\nC=3\r\n\r\nnoise\nD=x=y\0E=5\r\n", 33));
    EXPECT_EQ(answer.Lines(),
              (std::vector<std::string>{"A=1", "B=2", "C=3", "", "noise", "D=x=y"}));
    EXPECT_EQ(answer.Values("b"), "2");
    EXPECT_EQ(answer.Values("D"), "x=y");  // everything after the first "="
    EXPECT_EQ(answer.Values("E"), "");
    EXPECT_FALSE(answer.HasName("noise"));
    EXPECT_TRUE(answer.HasName("c"));
}

TEST(AnswerList, ValuesAreReadAsCp949AndKeepTheirSpaces) {
    const TAnswerList answer = Answer("UserName=" + Utf8ToAnsi("홍 길동 ") + "\r\nSTATUS=0\r\n");
    EXPECT_EQ(answer.Values("username"), "홍 길동 ");
}

TEST(AnswerList, CompanyListKeysAndMissingLines) {
    const TAnswerList answer = Answer("STATUS=0\nCompanyCount=3\nC000=aaa\nC002=ccc\n");
    const int count = AnswerToInteger(answer.Values("CompanyCount"));
    ASSERT_EQ(count, 3);
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) keys.push_back(answer.Values(CompanyListKey(i)));
    EXPECT_EQ(keys, (std::vector<std::string>{"aaa", "", "ccc"}));
    EXPECT_EQ(CompanyListKey(7), "C007");
    EXPECT_EQ(CompanyListKey(1000), "C1000");
}

TEST(AnswerList, NumbersThatAreNotValidReadAsZero) {
    EXPECT_EQ(AnswerToInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(AnswerToInteger("+2147483647"), INT32_MAX);
    for (const char* bad : {"2147483648", "", " 5", "5 ", "1e3", "0x10", "+-5", "-", "12abc"}) {
        EXPECT_EQ(AnswerToInteger(bad), 0) << bad;
    }
    // Byte counts above 2 GiB need the wide reading.
    EXPECT_EQ(AnswerToInt64("5368709120"), 5368709120LL);
    EXPECT_EQ(AnswerToInt64("9223372036854775808"), 0);
}

TEST(AnswerList, EpochAndArchiveTimes) {
    EXPECT_DOUBLE_EQ(AnswerToEpochTime("0"), EncodeDate(1970, 1, 1));
    EXPECT_DOUBLE_EQ(AnswerToEpochTime("junk"), EncodeDate(1970, 1, 1));
    EXPECT_DOUBLE_EQ(AnswerToEpochTime("86400"), EncodeDate(1970, 1, 2));
    // After January 2038 a time still reads as itself.
    EXPECT_DOUBLE_EQ(AnswerToEpochTime("4102444800"), EncodeDate(2100, 1, 1));

    EXPECT_DOUBLE_EQ(AnswerToArchiveTime("20040102103000.bck"),
                     EncodeDateTime({2004, 1, 2, 10, 30, 0, 0}));
    for (const char* bad : {"", "2004010210300", "20040230103000.bck", "20041302103000",
                            "2004010224000.bck", "x0040102103000"}) {
        EXPECT_EQ(AnswerToArchiveTime(bad), 0.0) << bad;
    }
}

}  // namespace
}  // namespace tidewell
