#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "TestSupport.h"
#include "company/Common.h"
#include "company/SafetyArchives.h"
#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// A company folder whose Backup holds count archives made a minute apart, oldest first.
std::vector<std::string> MakeArchives(const fs::path& company, int count) {
    fs::create_directories(company / "Backup");
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const TDateTime made =
            EncodeDateTime({2026, 1, 5, 10, static_cast<std::uint16_t>(i), 0, 0});
        const std::string path = SafetyArchiveName((company / "Backup").string(), made);
        test::WriteFile(path, std::string(100 + i, 'x'));
        SetFileModifiedTime(path, made);
        names.push_back(fs::path(path).filename().string());
    }
    return names;
}

std::vector<std::string> Left(const fs::path& company) {
    std::vector<std::string> names;
    for (const TSafetyArchive& archive : ListSafetyArchives(company.string())) {
        names.push_back(archive.Name);
    }
    std::reverse(names.begin(), names.end());  // oldest first, as made
    return names;
}

// The newest ones stay, however few the setting keeps; nothing else in Backup is touched.
TEST(SafetyArchives, PruningKeepsTheNewestAndNeverTheLastOne) {
    struct Case {
        int made, kept, left;
    };
    for (const Case c : {Case{12, 10, 10}, Case{4, 10, 4}, Case{5, 0, 1}, Case{5, -3, 1}}) {
        SCOPED_TRACE(std::to_string(c.made) + " kept " + std::to_string(c.kept));
        test::TempDir dir;
        const fs::path company = dir / "shop";
        const std::vector<std::string> made = MakeArchives(company, c.made);
        test::WriteFile(company / "Backup" / "notes.txt", "the user's own file");
        const auto removed = PruneSafetyArchives(company.string(), c.kept);
        EXPECT_EQ(removed.size(), static_cast<std::size_t>(c.made - c.left));
        EXPECT_EQ(Left(company), std::vector<std::string>(made.end() - c.left, made.end()));
        EXPECT_TRUE(fs::exists(company / "Backup" / "notes.txt"));
    }
}

// Two archives written within one second (a download, then a way back whose name carries
// another clock's time) come newest first, and pruning keeps the later one.
TEST(SafetyArchives, OnesWrittenWithinOneSecondKeepTheOrderTheyWereMadeIn) {
    test::TempDir dir;
    const fs::path backup = dir / "shop" / "Backup";
    fs::create_directories(backup);
    const fs::file_time_type second =
        std::chrono::time_point_cast<std::chrono::seconds>(fs::file_time_type::clock::now());
    const std::vector<std::pair<const char*, int>> made = {{"tidewell202612100800.bck", 100},
                                                           {"tidewell202601051020.bck", 600}};
    for (const auto& [name, milliseconds] : made) {
        test::WriteFile(backup / name, "x");
        fs::last_write_time(backup / name, second + std::chrono::milliseconds(milliseconds));
    }
    EXPECT_EQ(Left(dir / "shop"),
              (std::vector<std::string>{"tidewell202612100800.bck", "tidewell202601051020.bck"}));
    PruneSafetyArchives((dir / "shop").string(), 1);
    EXPECT_EQ(Left(dir / "shop"), (std::vector<std::string>{"tidewell202601051020.bck"}));
}

// Removing a chosen archive takes only one of the company's own; any other path is refused and
// stays.
TEST(SafetyArchives, RemovingOneTakesOnlyAnArchiveOfTheCompany) {
    test::TempDir dir;
    const fs::path company = dir / "shop";
    const std::vector<std::string> made = MakeArchives(company, 3);
    const fs::path elsewhere = dir / "elsewhere.bck";
    test::WriteFile(elsewhere, "not an archive of the company");
    EXPECT_THROW(RemoveSafetyArchive(company.string(), elsewhere.string()), Exception);
    EXPECT_THROW(RemoveSafetyArchive(company.string(),
                                     (company / "Backup" / ".." / "Backup" / made[0]).string()),
                 Exception);
    EXPECT_TRUE(fs::exists(elsewhere));
    RemoveSafetyArchive(company.string(), (company / "Backup" / made[1]).string());
    EXPECT_EQ(Left(company), (std::vector<std::string>{made[0], made[2]}));
}

}  // namespace
}  // namespace tidewell
