#include <gtest/gtest.h>

#include "usecase/RunProgress.h"

namespace tidewell {
namespace {

constexpr std::int64_t kMiB = 1 << 20;

// n/N, the bytes of the whole run, the speed of the latest transfer and the time left for the
// rest; what a company did not move is expected no more, and a stage that moves nothing has no
// speed to show.
TEST(RunProgress, TellsTheWholeRunAndForgetsWhatACompanyDidNotMove) {
    double now = 100;
    TRunProgress progress([&] { return now; });
    progress.Start({10 * kMiB, 30 * kMiB});
    EXPECT_EQ(RunProgressText(progress), "0KB/40.0MB");
    progress.BeginCompany(0);
    progress.Report(10 * kMiB, 0);
    now = 102;
    progress.Report(10 * kMiB, 4 * kMiB);
    EXPECT_EQ(RunProgressText(progress), "1/2 사업장 · 4.0MB/40.0MB · 2.0MB/초 · 약 18초 남음");
    progress.Report(0, 0);  // restoring: nothing moves
    EXPECT_EQ(RunProgressText(progress), "1/2 사업장 · 4.0MB/40.0MB");
    progress.Report(10 * kMiB, 8 * kMiB);
    progress.EndCompany();  // it came to 8 MiB
    progress.BeginCompany(1);
    EXPECT_EQ(RunProgressText(progress), "2/2 사업장 · 8.0MB/38.0MB");
    progress.Report(20 * kMiB, 0);  // the archive turned out smaller than expected
    EXPECT_EQ(progress.ExpectedBytes(), 28 * kMiB);
}

// Keeping the web folder's archive here and then uploading moves two archives: the run counts
// both, whatever their sizes.
TEST(RunProgress, ACompanyThatTransfersTwiceCountsBoth) {
    for (const std::int64_t sent : {12 * kMiB, 10 * kMiB}) {
        SCOPED_TRACE(sent);
        TRunProgress progress([] { return 0.0; });
        progress.Start({10 * kMiB});
        progress.BeginCompany(0);
        progress.Report(10 * kMiB, 6 * kMiB);
        progress.Report(10 * kMiB, 10 * kMiB);  // the web folder's archive, kept
        progress.Report(0, 0);                  // packing the upload
        progress.Report(sent, 0);
        EXPECT_EQ(progress.DoneBytes(), 10 * kMiB);
        EXPECT_EQ(progress.ExpectedBytes(), 10 * kMiB + sent);
        progress.Report(sent, sent);
        progress.EndCompany();
        EXPECT_EQ(progress.DoneBytes(), 10 * kMiB + sent);
        EXPECT_EQ(progress.ExpectedBytes(), 10 * kMiB + sent);
    }
}

TEST(RunProgress, DurationsReadAsAPersonSaysThem) {
    const std::vector<std::pair<double, const char*>> cases = {
        {0, "0초"},          {0.2, "1초"},    {59.2, "1분"},       {61, "1분 1초"},
        {3599, "59분 59초"}, {3600, "1시간"}, {3725, "1시간 2분"}, {-5, "0초"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
}

}  // namespace
}  // namespace tidewell
