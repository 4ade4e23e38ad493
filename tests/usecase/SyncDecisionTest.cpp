// Which way a company travels, from what both sides look like now and what they agreed on.
#include <gtest/gtest.h>

#include <functional>

#include "gateway/TidewellUser.h"
#include "usecase/SyncDecision.h"

namespace tidewell {
namespace {

const TDateTime kAgreed = EncodeDateTime({2024, 3, 1, 9, 0, 0, 0});
const TDateTime kNow = EncodeDateTime({2024, 3, 5, 12, 0, 0, 0});
const TDateTime kHour = 1.0 / 24;
const FileSignature kAgreedFile{1709280000000000000, 4096000};

// Both sides as they were when they agreed, with the agreement recorded in full.
TTidewellCompany Agreed() {
    TTidewellCompany company;
    company.LocalModified = kAgreed;
    company.LocalFile = kAgreedFile;
    company.LatestFileTime = kAgreed;
    company.LatestFileName = "20240301090000.bck";
    company.LatestFileSize = 700000;
    company.Synced = {kAgreed, kAgreedFile, "20240301090000.bck", 700000};
    return company;
}

void EditLocally(TTidewellCompany& company, TDateTime time) {
    company.LocalModified = time;
    company.LocalFile.modifiedNs += 123456789;
}

void NewWebArchive(TTidewellCompany& company, TDateTime time, const std::string& name) {
    company.LatestFileTime = time;
    company.LatestFileName = name;
    company.LatestFileSize += 1000;
}

struct Case {
    const char* name;
    std::function<void(TTidewellCompany&)> change;
    TSyncMode mode;
    TSyncDecision::TAsk ask;
};

TEST(DecideSync, OnlyAChangeOnOneSideSinceTheAgreementTravelsByItself) {
    const std::vector<Case> cases = {
        {"nothing changed", [](auto&) {}, smNone, TSyncDecision::akNone},
        {"another computer sent newer data",
         [](auto& c) { NewWebArchive(c, kAgreed + 1, "20240302090000.bck"); }, smDownload,
         TSyncDecision::akNone},
        {"the same name sent again with other data", [](auto& c) { c.LatestFileSize = 800000; },
         smDownload, TSyncDecision::akNone},
        // The cases where the times alone would take the web folder's data over new work here.
        {"edited after the clock was put back an hour",
         [](auto& c) { EditLocally(c, kAgreed - kHour); }, smUpload, TSyncDecision::akNone},
        {"edited in the repeated hour at the end of daylight saving time",
         [](auto& c) { EditLocally(c, kAgreed - kHour / 4); }, smUpload, TSyncDecision::akNone},
        {"edited within the same two-second step as the agreement",
         [](auto& c) { EditLocally(c, kAgreed); }, smUpload, TSyncDecision::akNone},
        {"edited here with a clock a day ahead", [](auto& c) { EditLocally(c, kNow + 1.5); },
         smUpload, TSyncDecision::akNone},
        {"both computers changed it, to equal file times",
         [](auto& c) {
             EditLocally(c, kAgreed + 1);
             NewWebArchive(c, kAgreed + 1, "20240302090000.bck");
         },
         smUpload, TSyncDecision::akBothChanged},
        // An agreement noted before the archive and the file were recorded knows the time only.
        {"an agreement of the time only, edited here",
         [](auto& c) {
             c.Synced = {kAgreed, {}, {}, -1};
             EditLocally(c, kAgreed + kHour);
         },
         smUpload, TSyncDecision::akNone},
        // Without an agreement only the times speak, and one far ahead is not trusted.
        {"no agreement, the web folder's time days ahead",
         [](auto& c) {
             c.Synced = {};
             NewWebArchive(c, kNow + 2, "20240307120000.bck");
         },
         smDownload, TSyncDecision::akFutureTime},
        // A copy of the folder added on a second computer: the later time may be the older work.
        {"no agreement, data on both sides at different times",
         [](auto& c) {
             c.Synced = {};
             EditLocally(c, kAgreed + kHour);
         },
         smUpload, TSyncDecision::akNeverAgreed},
        {"no agreement, both sides at the same time", [](auto& c) { c.Synced = {}; }, smNone,
         TSyncDecision::akNone},
        {"no agreement, nothing here to lose",
         [](auto& c) {
             c.Synced = {};
             c.LocalModified = 0;
             NewWebArchive(c, kNow + 2, "20240307120000.bck");
         },
         smDownload, TSyncDecision::akNone},
    };
    for (const Case& test : cases) {
        TTidewellCompany company = Agreed();
        test.change(company);
        const TSyncDecision decision = DecideSync(company, kNow);
        EXPECT_EQ(decision.Mode, test.mode) << test.name;
        EXPECT_EQ(decision.Ask, test.ask) << test.name;
    }
}

TEST(DecideSync, TimesMoreThanADayAheadAreMarked) {
    TTidewellCompany company = Agreed();
    EXPECT_FALSE(DecideSync(company, kNow).LocalInFuture);
    company.LocalModified = kNow + 0.9;
    company.LatestFileTime = kNow + 1.1;
    const TSyncDecision decision = DecideSync(company, kNow);
    EXPECT_FALSE(decision.LocalInFuture);
    EXPECT_TRUE(decision.WebInFuture);
}

}  // namespace
}  // namespace tidewell
