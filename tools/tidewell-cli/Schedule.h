#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "usecase/KeyValueFile.h"

namespace tidewell::cli {

// When the scheduled sync runs: every day at a time, or every hour on the hour, each computer
// at a moment of its own within SpreadMinutes after it (the same every day), so that the shops
// of one service do not all arrive in the same second.
struct ScheduleTime {
    bool Hourly = false;
    int Hour = 21;
    int Minute = 0;
    int SpreadMinutes = 30;
};

// "HH:MM" on a 24-hour clock; nullopt for anything else.
std::optional<ScheduleTime> ParseDailyTime(std::string_view text);
// Minutes from 0 to 720; nullopt for anything else.
std::optional<int> ParseSpreadMinutes(std::string_view text);
// Korean words for the schedule of a timer's OnCalendar value: "매일 21:00", "매시 정각".
std::string DescribeCalendar(std::string_view onCalendar);

inline constexpr const char* kTimerUnit = "tidewell-sync.timer";
inline constexpr const char* kServiceUnit = "tidewell-sync.service";

// $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user), where user units live.
std::filesystem::path UserUnitFolder();

// One word of a unit's command line: quoted where systemd would split or expand it.
std::string SystemdWord(std::string_view word);
std::string ServiceUnitText(const std::vector<std::string>& command, const KeyValues& environment);
std::string TimerUnitText(const ScheduleTime& time);

// The three schedule commands; each returns the exit status. command is the run to schedule
// (absolute program path first), environment what it must see beyond the user manager's own.
int InstallSchedule(const ScheduleTime& time, const std::vector<std::string>& command,
                    const KeyValues& environment, std::ostream& out);
int RemoveSchedule(std::ostream& out, std::ostream& err);
int ShowSchedule(std::ostream& out);

}  // namespace tidewell::cli
