// A large company (256 MiB unless TIDEWELL_BENCH_MIB says otherwise) up and down through the
// loopback web-folder service, stage by stage, with wall and CPU time, the load average, and
// the client's peak memory; then the download again over a link throttled to 20 MB/s (a small
// proxy here), against what receiving alone and restoring alone take on that link.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchFloors.h"
#include "BenchMeasures.h"
#include "CompanyMaker.h"
#include "TestSupport.h"
#include "WebFolderService.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "gateway/TidewellGateway.h"
#include "platform/FileHandle.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace tidewell {
namespace {

// What this machine measured before the transfers were reworked (issue figures, 257 MiB).
constexpr double kTodayUploadSeconds = 7.5;
constexpr double kTodayDownloadSeconds = 8.9;
constexpr double kLinkBytesPerSecond = 20e6;

std::int64_t TargetBytes() {
    const char* mib = getenv("TIDEWELL_BENCH_MIB");
    return (mib ? std::atoll(mib) : 256) * 1024 * 1024;
}

// Wall and CPU time of one piece of work, and when each progress message first appeared.
class Measure {
public:
    void Start() {
        start_ = Steady::now();
        cpu_ = bench::ProcessCpuSeconds();
        marks_.clear();
    }
    void Mark(const std::string& message) {
        if (marks_.empty() || marks_.back().first != message)
            marks_.emplace_back(message, Steady::now());
    }
    double Stop() {
        wall_ = std::chrono::duration<double>(Steady::now() - start_).count();
        cpuUsed_ = bench::ProcessCpuSeconds() - cpu_;
        end_ = Steady::now();
        return wall_;
    }
    // The wall time of the stages that reported message.
    double Stage(const std::string& message) const {
        double seconds = 0;
        for (std::size_t i = 0; i < marks_.size(); ++i) {
            const auto until = i + 1 < marks_.size() ? marks_[i + 1].second : end_;
            if (marks_[i].first == message)
                seconds += std::chrono::duration<double>(until - marks_[i].second).count();
        }
        return seconds;
    }
    double Wall() const { return wall_; }
    void Print(const char* what) const {
        std::printf("%s: %.2f s wall, %.2f s CPU (load %s)\n", what, wall_, cpuUsed_,
                    bench::LoadAverage().c_str());
        for (std::size_t i = 0; i < marks_.size(); ++i) {
            const auto until = i + 1 < marks_.size() ? marks_[i + 1].second : end_;
            std::printf("  from %-38s %7.2f s\n", ("\"" + marks_[i].first + "\"").c_str(),
                        std::chrono::duration<double>(until - marks_[i].second).count());
        }
    }

private:
    Steady::time_point start_, end_;
    double cpu_ = 0, wall_ = 0, cpuUsed_ = 0;
    std::vector<std::pair<std::string, Steady::time_point>> marks_;
};

// A loopback proxy in front of the service that lets at most bytesPerSecond through towards
// the client: a slow link, for the overlap of receiving and packing to show.
class ThrottlingProxy {
public:
    ThrottlingProxy(int servicePort, double bytesPerSecond)
        : servicePort_(servicePort), rate_(bytesPerSecond) {
        listener_ = FileHandle(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 16);
        socklen_t length = sizeof address;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Accept(); });
    }
    ~ThrottlingProxy() {
        stop_ = true;
        ::shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    void Accept() {
        std::vector<std::thread> connections;
        while (!stop_) {
            const int client = ::accept(listener_.get(), nullptr, nullptr);
            if (client < 0) break;
            connections.emplace_back([this, client] { Relay(FileHandle(client)); });
        }
        for (auto& connection : connections) connection.join();
    }

    void Relay(FileHandle client) {
        FileHandle service(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(servicePort_));
        if (::connect(service.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return;
        std::vector<char> buffer(64 * 1024);
        const auto start = Steady::now();
        double sentDown = 0;
        pollfd fds[2] = {{client.get(), POLLIN, 0}, {service.get(), POLLIN, 0}};
        while (!stop_ && ::poll(fds, 2, 100) >= 0) {
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(client.get(), buffer.data(), buffer.size());
                if (n <= 0) break;
                if (::write(service.get(), buffer.data(), static_cast<std::size_t>(n)) != n) break;
            }
            if (fds[1].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(service.get(), buffer.data(), 16 * 1024);
                if (n <= 0) break;
                sentDown += static_cast<double>(n);
                const auto due = start + std::chrono::duration<double>(sentDown / rate_);
                std::this_thread::sleep_until(std::chrono::time_point_cast<Steady::duration>(due));
                if (::write(client.get(), buffer.data(), static_cast<std::size_t>(n)) != n) break;
            }
        }
    }

    int servicePort_;
    double rate_;
    FileHandle listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Each stage beside its floor: the plain copy of the file, the block library on every core with
// the file in memory, the archive received and nothing else.
void PrintAgainstFloors(const Measure& upload, const Measure& download, const fs::path& database,
                        const fs::path& work, const std::string& url, const std::string& key) {
    fs::create_directories(work);
    const double copy = bench::CopyFloorSeconds(database, work / "floor-copy.mdb");
    const double pack = bench::PackFloorSeconds(database);
    const fs::path received = work / "floor-received";
    fs::create_directories(received);
    TTidewellGateway gateway(url);
    gateway.DownloadFolder = received.string();
    TAnswerList answer;
    const auto start = Steady::now();
    gateway.DownloadFile("bench", "bench1234", key, answer);
    const double receive = bench::SecondsSince(start);
    fs::remove_all(received);

    std::printf(
        "against the floors: cp of the file %.2f s, block library on %u cores in memory "
        "%.2f s, plain receive %.2f s\n",
        copy, std::thread::hardware_concurrency(), pack, receive);
    const auto line = [](const char* stage, double seconds, const char* floor,
                         double floorSeconds) {
        std::printf("  %-44s %6.2f s = %5.2f x %s\n", stage, seconds,
                    floorSeconds > 0 ? seconds / floorSeconds : 0.0, floor);
    };
    const double uploadPack = upload.Stage("업로드할 자료를 백업중입니다...");
    line("upload: snapshot and packing", uploadPack, "(cp + block library)", copy + pack);
    line("upload: sending", upload.Stage("자료를 전송중입니다..."), "plain receive", receive);
    line("download: receiving", download.Stage("자료를 전송중입니다..."), "plain receive", receive);
    line("download: safety archive of the local data", download.Stage("복원 준비중..."),
         "block library", pack);
    line("download: restore, check and replacement",
         download.Stage("다운로드한 자료를 복원중입니다..."), "cp", copy);
    line("download: whole", download.Wall(), "(plain receive + block library + cp)",
         receive + pack + copy);
}

int Run() {
    test::CoreFixture core;  // private work folder and settings for this run
    test::WebFolderService service(core.dir / "service");
    service.AddUser("bench", "bench1234", "벤치", 365, 2147483647);
    const fs::path a = core.dir / "a";
    std::printf("cores: %u, load %s\n", std::thread::hardware_concurrency(),
                bench::LoadAverage().c_str());

    // The database is made in a child process, so this one's peak memory is the client's.
    const pid_t child = fork();
    if (child == 0) {
        MakeCompanyFolder(a.string(), {.name = "벤치 사업장", .minimumBytes = TargetBytes()});
        ExecCompanySql(a.string(), "delete from inventory where id % 20 = 0");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    std::printf("company database: %.1f MiB\n", fs::file_size(a / "default.mdb") / 1048576.0);

    TTidewellUser user(TAccountSetup{ServiceEndpoint{service.BaseUrl(), {}}, core.Places(),
                                     &core.hive(), &SystemClock()});
    if (!user.Login("bench", "bench1234")) return 1;
    auto company = std::make_shared<TTidewellCompany>();
    company->LocalPath = a.string();
    company->CompanyKey = EnsureCompanyKey(a.string());
    company->CompanyName = "벤치 사업장";
    user.AddCompany(company);

    Measure measure;
    user.OnProgress = [&](const void*, const std::string&, const std::string& message, std::int64_t,
                          std::int64_t, std::uint8_t) { measure.Mark(message); };
    measure.Start();
    user.UploadCompany(company->CompanyKey);
    const double upload = measure.Stop();
    const Measure uploaded = measure;
    measure.Print("upload");
    std::printf("  archive %.1f MiB; %.2f of the %.1f s measured before (target at most 0.45)\n",
                user.TransferSize / 1048576.0, upload / kTodayUploadSeconds, kTodayUploadSeconds);

    // Download onto the same folder: the safety copy of the local data and the receiving
    // overlap, then the restore.
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = a.string();
    measure.Start();
    user.DownloadCompany(company->CompanyKey);
    const double download = measure.Stop();
    const Measure downloaded = measure;
    measure.Print("download onto existing data (loopback)");
    std::printf("  %.2f of the %.1f s measured before; %.2f of the upload\n",
                download / kTodayDownloadSeconds, kTodayDownloadSeconds, download / upload);
    // Before the floors, which hold the whole file in memory.
    std::printf("client peak memory: %.1f MiB\n", bench::PeakMiB());
    PrintAgainstFloors(uploaded, downloaded, a / "default.mdb", core.dir / "floors",
                       service.BaseUrl(), company->CompanyKey);
    if (getenv("TIDEWELL_BENCH_NO_LINK")) return 0;

    // The same over a 20 MB/s link, against receiving alone and restoring alone.
    ThrottlingProxy link(service.Port(), kLinkBytesPerSecond);
    const fs::path received = core.dir / "received";
    fs::create_directories(received);
    TTidewellGateway gateway(link.Url());
    gateway.DownloadFolder = received.string();
    TAnswerList answer;
    measure.Start();
    gateway.DownloadFile("bench", "bench1234", company->CompanyKey, answer);
    const double receiving = measure.Stop();
    const std::string archive = received.string() + "/" + answer.Values("FILENAME");
    const fs::path restored = core.dir / "restored";
    measure.Start();
    TBackupCompany restore(EnsureWorkFolder(core.Places()));
    restore.SourceFolder = restored.string();
    restore.Restore(archive);
    const double restoring = measure.Stop();
    user.Service.URL = link.Url();
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = a.string();
    measure.Start();
    user.DownloadCompany(company->CompanyKey);
    const double throttled = measure.Stop();
    measure.Print("download onto existing data over 20 MB/s");
    std::printf(
        "  receiving alone %.2f s + restoring alone %.2f s = %.2f s; the download took "
        "%.2f of that (target at most 1.15)\n",
        receiving, restoring, receiving + restoring, throttled / (receiving + restoring));
    return 0;
}

}  // namespace
}  // namespace tidewell

int main() {
    return tidewell::Run();
}
