// The small pieces behind tidewell-cli's schedule and reports.
#include <gtest/gtest.h>

#include "Schedule.h"
#include "ScheduledRun.h"

namespace tidewell::cli {
namespace {

TEST(CliUnits, MessagesBecomeOneLineAsTheNotificationShowsThem) {
    EXPECT_EQ(OneLine("가게\r\n웹폴더 공간이 모자랍니다."), "가게: 웹폴더 공간이 모자랍니다.");
    EXPECT_EQ(OneLine("로그인하는 중 오류가 발생하였습니다.\r\n서버에 연결할 수 없습니다.\r\n"),
              "로그인하는 중 오류가 발생하였습니다. 서버에 연결할 수 없습니다.");
    EXPECT_EQ(OneLine("가게\r\n\r\n하나\r둘\n셋"), "가게: 하나 둘 셋");
}

TEST(CliUnits, ScheduleTimesAndCommandWords) {
    ASSERT_TRUE(ParseDailyTime("00:00"));
    const auto evening = ParseDailyTime("23:59");
    ASSERT_TRUE(evening);
    EXPECT_EQ(evening->Hour * 60 + evening->Minute, 23 * 60 + 59);
    for (const char* wrong : {"24:00", "12:60", "7:30", "07-30", "0a:30", "07:300", ""}) {
        EXPECT_FALSE(ParseDailyTime(wrong)) << wrong;
    }
    EXPECT_EQ(DescribeCalendar("*-*-* 07:05:00"), "매일 07:05");
    EXPECT_EQ(DescribeCalendar("hourly"), "매시 정각");
    EXPECT_EQ(DescribeCalendar("Mon *-*-* 07:05:00"), "Mon *-*-* 07:05:00");

    // systemd splits at blanks and expands % and $: a program under such a folder still runs.
    EXPECT_EQ(SystemdWord("/opt/tidewell/bin/tidewell-cli"), "/opt/tidewell/bin/tidewell-cli");
    EXPECT_EQ(SystemdWord("/home/kim/내 프로그램/100%/$HOME/tidewell-cli"),
              "\"/home/kim/내 프로그램/100%%/$$HOME/tidewell-cli\"");
    EXPECT_EQ(SystemdWord("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

}  // namespace
}  // namespace tidewell::cli
