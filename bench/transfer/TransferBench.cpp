// Time of each stage of a company's upload and download through the loopback web-folder
// service, for a large company database (256 MiB unless TIDEWELL_BENCH_MIB says otherwise),
// and the client's peak memory over the whole upload and download.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CompanyMaker.h"
#include "TestSupport.h"
#include "WebFolderService.h"
#include "company/Common.h"
#include "gateway/TidewellGateway.h"
#include "platform/CompanyDatabase.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace tidewell {
namespace {

std::int64_t TargetBytes() {
    const char* mib = getenv("TIDEWELL_BENCH_MIB");
    return (mib ? std::atoll(mib) : 256) * 1024 * 1024;
}

// Peak resident memory of this process so far, in MiB.
double PeakMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// When each progress message first appeared, to split an operation into its stages.
class StageClock {
public:
    void Start() {
        start_ = Clock::now();
        marks_.clear();
    }
    void Mark(const std::string& message) {
        if (marks_.empty() || marks_.back().first != message) {
            marks_.emplace_back(message, Clock::now());
        }
    }
    // Seconds from the start to the first mark, between marks, and from the last to now.
    void Print(const char* operation, const std::vector<std::string>& names) const {
        const auto end = Clock::now();
        std::vector<Clock::time_point> bounds{start_};
        for (const auto& mark : marks_) bounds.push_back(mark.second);
        bounds.push_back(end);
        std::printf("%s: %.2f s in all\n", operation,
                    std::chrono::duration<double>(end - start_).count());
        for (std::size_t i = 0; i + 1 < bounds.size() && i < names.size(); ++i) {
            std::printf("  %-36s %7.2f s\n", names[i].c_str(),
                        std::chrono::duration<double>(bounds[i + 1] - bounds[i]).count());
        }
    }

private:
    Clock::time_point start_;
    std::vector<std::pair<std::string, Clock::time_point>> marks_;
};

int Run() {
    test::CoreFixture core;  // private work folder and settings for this run
    test::WebFolderService service(core.dir / "service");
    service.AddUser("bench", "bench1234", "벤치", 365, 2147483647);
    const fs::path a = core.dir / "a";

    // The database is made in a child process, so this one's peak memory is the client's.
    const pid_t child = fork();
    if (child == 0) {
        MakeCompanyFolder(a.string(), {.name = "벤치 사업장", .minimumBytes = TargetBytes()});
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    std::printf("company database: %.1f MiB\n",
                fs::file_size(a / "default.mdb") / 1048576.0);

    TTidewellUser user;
    user.ServiceURL = service.BaseUrl();
    if (!user.Login("bench", "bench1234")) return 1;
    auto company = std::make_shared<TTidewellCompany>();
    company->LocalPath = a.string();
    company->CompanyKey = EnsureCompanyKey(a.string());
    company->CompanyName = "벤치 사업장";
    user.AddCompany(company);

    StageClock clock;
    user.OnProgress = [&](const void*, const std::string&, const std::string& message,
                          std::int64_t, std::int64_t, std::uint8_t) { clock.Mark(message); };
    clock.Start();
    user.UploadCompany(company->CompanyKey);
    clock.Print("upload", {"copy and compaction", "packing", "sending"});
    std::printf("  archive: %.1f MiB\n", user.TransferSize / 1048576.0);

    // Download onto the same folder: safety copy of the local data, then the restore.
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = a.string();
    clock.Start();
    user.DownloadCompany(company->CompanyKey);
    clock.Print("download", {"request", "receiving", "safety copy (copy, compaction, packing)",
                             "restoring"});
    std::printf("client peak memory over both: %.1f MiB (target below 128 MiB)\n", PeakMiB());
    return 0;
}

}  // namespace
}  // namespace tidewell

int main() { return tidewell::Run(); }
