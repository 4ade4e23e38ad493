#include <gtest/gtest.h>

#include "platform/DateTime.h"

namespace tidewell {
namespace {

TEST(DateTime, ZeroIsEighteenNinetyNineAndSortsFirst) {
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", 0), "18991230000000");
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
}

TEST(DateTime, EncodeDecodeRoundTripsToTheMillisecond) {
    const DateTimeParts in{2026, 2, 28, 23, 59, 58, 999};
    const DateTimeParts out = DecodeDateTime(EncodeDateTime(in));
    EXPECT_EQ(out.year, 2026);
    EXPECT_EQ(out.month, 2);
    EXPECT_EQ(out.day, 28);
    EXPECT_EQ(out.hour, 23);
    EXPECT_EQ(out.minute, 59);
    EXPECT_EQ(out.second, 58);
    EXPECT_EQ(out.millisecond, 999);
    // Dates before the zero day count the time of day forward from that day.
    const DateTimeParts early = DecodeDateTime(EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}));
    EXPECT_EQ(early.day, 29);
    EXPECT_EQ(early.hour, 6);
}

TEST(DateTime, RejectsImpossibleDates) {
    EXPECT_FALSE(TryEncodeDateTime({2023, 2, 29, 0, 0, 0, 0}));
    EXPECT_TRUE(TryEncodeDateTime({2024, 2, 29, 0, 0, 0, 0}));
    EXPECT_FALSE(TryEncodeDateTime({2024, 13, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(TryEncodeDateTime({2024, 1, 1, 24, 0, 0, 0}));
    EXPECT_THROW(EncodeDate(2024, 4, 31), std::exception);
}

TEST(DateTime, FormatsThatTheProgramUses) {
    const TDateTime t = EncodeDateTime({2005, 3, 7, 9, 5, 4, 32});
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", t), "20050307090504");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", t), "2005-03-07 09:05:04");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", t), "2005-03-07");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnn", t), "200503070905");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", t), "2005-03-07 09:05");
    EXPECT_EQ(FormatDateTime("yyyy년 m월 d일", t), "2005년 3월 7일");
    EXPECT_EQ(FormatDateTime("mmddyyhhnnsszzz", t), "030705090504032");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnsszzz", t), "20050307090504032");
}

TEST(DateTime, FractionsOfASecondNeverRoundTheFormattedSecondUp) {
    const TDateTime t = EncodeDateTime({2020, 1, 1, 10, 0, 0, 900});
    EXPECT_EQ(FormatDateTime("hh:nn:ss", t), "10:00:00");
}

TEST(DateTime, EpochSecondsAreAddedWithoutTimeZone) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", UnixToDateTime(0)), "1970-01-01 00:00:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", UnixToDateTime(1104537600)),
              "2005-01-01 00:00:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", UnixToDateTime(-1)), "1969-12-31 23:59:59");
}

TEST(DateTime, ArchiveTimeFromTheLeading14Digits) {
    const auto t = ArchiveTimeToDateTime("20040102103000.bck");
    ASSERT_TRUE(t);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", *t), "2004-01-02 10:30:00");
    EXPECT_FALSE(ArchiveTimeToDateTime(""));
    EXPECT_FALSE(ArchiveTimeToDateTime("2004010210300"));        // 13 digits
    EXPECT_FALSE(ArchiveTimeToDateTime("20041302103000.bck"));   // month 13
    EXPECT_FALSE(ArchiveTimeToDateTime("20040230103000.bck"));   // 30 February
    EXPECT_FALSE(ArchiveTimeToDateTime("2004-1-02103000.bck"));  // not digits
    EXPECT_FALSE(ArchiveTimeToDateTime("20040102246000.bck"));
}

TEST(DateTime, LocalTimeConversionsRoundTrip) {
    const TDateTime t = EncodeDateTime({2021, 6, 15, 12, 34, 56, 0});
    const auto posix = DateTimeToLocalTime(t);
    ASSERT_TRUE(posix);
    const auto back = LocalTimeToDateTime(*posix);
    ASSERT_TRUE(back);
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", *back), "20210615123456");
}

}  // namespace
}  // namespace tidewell
