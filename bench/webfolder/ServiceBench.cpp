// Throughput and peak memory of tidewell-webfolder for one large archive (1 GiB unless
// TIDEWELL_BENCH_MIB says otherwise) uploaded and downloaded over loopback, and the
// authenticated requests per second that `ab` gets at concurrency 16 (TIDEWELL_BENCH_REQUESTS
// of them, 5000), printed next to the figures measured before the service moved to its
// event-driven HTTP server.
//
//   tidewell_bench_webfolder [--old PATH-TO-AN-OLDER-tidewell-webfolder] [--distributed]
//
// With --old, that build is measured in the same run, on the same machine, the two taking
// turns. With --distributed, this build is measured on PostgreSQL and the object store too
// (started by `script/engines run`, which names them in TIDEWELL_TEST_*), and the ratio of the
// two back ends is printed. Each figure is the best of TIDEWELL_BENCH_RUNS runs (3), the peak
// memory the highest.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "PgConnection.h"
#include "S3Client.h"
#include "SystemRandom.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kBoundary[] = "----tidewell-bench";
constexpr char kKey[] = "0123456789abcdef0123456789abcdef";

struct Figures {
    double upMiBps = 0, downMiBps = 0, requestsPerSecond = 0, peakMiB = 0;
};

std::uint64_t ArchiveBytes() {
    const char* mib = getenv("TIDEWELL_BENCH_MIB");
    return static_cast<std::uint64_t>(mib ? std::atoll(mib) : 1024) * 1024 * 1024;
}

double PeakMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

pid_t Spawn(const std::vector<std::string>& words, int outFd,
            const std::vector<std::string>& environment = {}) {
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (auto& word : copy) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where a measured service keeps its state: a data folder, or a database of its own in the
// engines' PostgreSQL and a prefix of its own in their bucket.
struct Place {
    std::vector<std::string> arguments;
    std::string database;  // to drop afterwards
};

Place DataFolderIn(const fs::path& folder) {
    return {{"--data", (folder / "data").string()}, {}};
}

std::string Variable(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

Place DistributedIn(const fs::path& folder) {
    const std::string base = Variable("TIDEWELL_TEST_PG_URI");
    const std::string name = "bench_" + tidewell::webfolder::RandomHex(6);
    tidewell::webfolder::PgConnection(base).Exec("CREATE DATABASE " + name);
    fs::create_directories(folder / "spool");
    return {{"--index", base.substr(0, base.rfind('/') + 1) + name, "--archives",
             "s3://" + Variable("TIDEWELL_TEST_S3_BUCKET") + "/" + name + "/", "--spool",
             (folder / "spool").string()},
            name};
}

// The database and every object under the prefix go: the engines' store is small.
void Clear(const Place& place) {
    if (place.database.empty()) return;
    try {
        tidewell::webfolder::PgConnection(Variable("TIDEWELL_TEST_PG_URI"))
            .Exec("DROP DATABASE IF EXISTS " + place.database + " WITH (FORCE)");
        tidewell::webfolder::S3Client store(tidewell::webfolder::LoadS3Config({}),
                                            Variable("TIDEWELL_TEST_S3_BUCKET"));
        store.ListObjects(place.database + "/", [&](const auto& page) {
            for (const auto& object : page) store.DeleteObject(object.key);
        });
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cannot drop %s: %s\n", place.database.c_str(), error.what());
    }
}

// The account through the environment; builds from before it only knew --password.
void AddUser(const std::string& program, const Place& place) {
    std::vector<std::string> base{program, "adduser"};
    base.insert(base.end(), place.arguments.begin(), place.arguments.end());
    base.insert(base.end(), {"--id", "bench", "--name", "bench", "--quota", "2147483647"});
    if (Wait(Spawn(base, -1, {"TIDEWELL_WEBFOLDER_PASSWORD=bench1234"})) == 0) return;
    auto withPassword = base;
    withPassword.insert(withPassword.end(), {"--password", "bench1234"});
    if (Wait(Spawn(withPassword, -1)) != 0) {
        std::fprintf(stderr, "adduser failed with %s\n", program.c_str());
        std::exit(1);
    }
}

// The multipart upload body, produced as curl asks for it: the fields, then the archive's
// bytes (a random block repeated), then the closing delimiter.
class UploadBody {
public:
    explicit UploadBody(std::uint64_t archiveBytes)
        : archive_(archiveBytes), block_(1 << 20, '\0') {
        std::mt19937 random(7);
        for (char& c : block_) c = static_cast<char>(random());
        const std::string b = kBoundary;
        auto field = [&](const char* name, const char* value) {
            return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                   value + "\r\n";
        };
        head_ = field("userid", "bench") + field("password", "bench1234") +
                field("companykey", kKey) + field("companyname", "bench") + "--" + b +
                "\r\nContent-Disposition: form-data; name=\"file\"; "
                "filename=\"C:\\Temp\\Tidewell\\20240101000000.bck\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n";
        tail_ = "\r\n--" + b + "--\r\n";
    }
    std::uint64_t Size() const { return head_.size() + archive_ + tail_.size(); }

    static size_t Read(char* out, size_t size, size_t count, void* self) {
        return static_cast<UploadBody*>(self)->Fill(out, size * count);
    }

private:
    size_t Fill(char* out, size_t room) {
        size_t done = 0;
        while (done < room && position_ < Size()) {
            const std::uint64_t at = position_;
            size_t n = 0;
            if (at < head_.size()) {
                n = std::min<size_t>(room - done, head_.size() - at);
                std::memcpy(out + done, head_.data() + at, n);
            } else if (at < head_.size() + archive_) {
                const std::uint64_t offset = at - head_.size();
                const size_t inBlock = offset % block_.size();
                n = std::min<size_t>(
                    {room - done, block_.size() - inBlock, static_cast<size_t>(archive_ - offset)});
                std::memcpy(out + done, block_.data() + inBlock, n);
            } else {
                const size_t offset = at - head_.size() - archive_;
                n = std::min<size_t>(room - done, tail_.size() - offset);
                std::memcpy(out + done, tail_.data() + offset, n);
            }
            done += n;
            position_ += n;
        }
        return done;
    }

    std::uint64_t archive_;
    std::string block_, head_, tail_;
    std::uint64_t position_ = 0;
};

size_t Collect(char* data, size_t size, size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

size_t CountBytes(char*, size_t size, size_t count, void* total) {
    *static_cast<std::uint64_t*>(total) += size * count;
    return size * count;
}

// One POST over HTTP/1.0 as the client makes them; returns seconds.
double Post(const std::string& url, const char* type, UploadBody* upload, const std::string& form,
            std::string* text, std::uint64_t* received) {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, (std::string("Content-Type: ") + type).c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    if (upload) {
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &UploadBody::Read);
        curl_easy_setopt(curl, CURLOPT_READDATA, upload);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(upload->Size()));
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    } else {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
    }
    if (received) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CountBytes);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, received);
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024);
    } else {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, text);
    }
    const auto start = Clock::now();
    const CURLcode rc = curl_easy_perform(curl);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) {
        std::fprintf(stderr, "request failed: %s\n", curl_easy_strerror(rc));
        std::exit(1);
    }
    return seconds;
}

// Requests per second of `ab` posting the profile command with the right password, 16 at a
// time, as HTTP/1.0 clients without keep-alive; 0 when ab is missing or requests failed.
double Requests(const std::string& base, const fs::path& folder) {
    const fs::path form = folder / "form";
    std::ofstream(form) << "cmd=userprofile&userid=bench&password=bench1234";
    const char* count = getenv("TIDEWELL_BENCH_REQUESTS");
    const std::string command = "ab -q -n " + std::string(count ? count : "5000") + " -c 16 -p '" +
                                form.string() + "' -T application/x-www-form-urlencoded '" + base +
                                "/tidewellweb/gateway.asp' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return 0;
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
    auto number = [&](const char* label) {
        const auto at = output.find(label);
        return at == std::string::npos ? -1.0 : std::atof(output.c_str() + at + std::strlen(label));
    };
    const double failed = number("Failed requests:");
    const double rate = number("Requests per second:");
    if (failed != 0 || rate <= 0 || output.find("Non-2xx") != std::string::npos) {
        std::fprintf(stderr, "ab: %s\n", output.c_str());
        return 0;
    }
    return rate;
}

Figures Measure(const std::string& program, bool distributed = false) {
    char pattern[] = "/tmp/tidewell-bench-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    const Place place = distributed ? DistributedIn(folder) : DataFolderIn(folder);
    AddUser(program, place);

    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::exit(1);
    std::vector<std::string> serve{program, "serve"};
    serve.insert(serve.end(), place.arguments.begin(), place.arguments.end());
    serve.insert(serve.end(), {"--listen", "127.0.0.1:0"});
    const pid_t service = Spawn(serve, pipeFds[1]);
    ::close(pipeFds[1]);
    std::string portLine;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') portLine += c;
    ::close(pipeFds[0]);
    const std::string base = "http://127.0.0.1:" + portLine;

    const std::uint64_t bytes = ArchiveBytes();
    const double mib = static_cast<double>(bytes) / (1024 * 1024);
    Figures figures;
    UploadBody body(bytes);
    std::string reply;
    const double up =
        Post(base + "/tidewellweb/gwupload.asp", "multipart/form-data; boundary=----tidewell-bench",
             &body, "", &reply, nullptr);
    if (reply.find("STATUS=0") == std::string::npos) {
        std::fprintf(stderr, "upload refused: %s\n", reply.c_str());
        std::exit(1);
    }
    figures.upMiBps = mib / up;

    std::uint64_t received = 0;
    const double down =
        Post(base + "/tidewellweb/gwdownload.asp", "application/x-www-form-urlencoded", nullptr,
             std::string("userid=bench&password=bench1234&companykey=") + kKey, nullptr, &received);
    if (received != bytes) {
        std::fprintf(stderr, "download gave %llu bytes\n",
                     static_cast<unsigned long long>(received));
        std::exit(1);
    }
    figures.downMiBps = mib / down;
    figures.requestsPerSecond = Requests(base, folder);
    figures.peakMiB = PeakMiB(service);
    ::kill(service, SIGTERM);
    Wait(service);
    Clear(place);
    fs::remove_all(folder);
    return figures;
}

void KeepBest(Figures& best, const Figures& run) {
    best.upMiBps = std::max(best.upMiBps, run.upMiBps);
    best.downMiBps = std::max(best.downMiBps, run.downMiBps);
    best.requestsPerSecond = std::max(best.requestsPerSecond, run.requestsPerSecond);
    best.peakMiB = std::max(best.peakMiB, run.peakMiB);
}

void Row(const char* name, const Figures& f) {
    std::printf("%-28s %10.0f %10.0f %10.0f %12.1f\n", name, f.upMiBps, f.downMiBps,
                f.requestsPerSecond, f.peakMiB);
}

}  // namespace

int main(int argc, char** argv) {
    std::string older;
    bool distributed = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--old" && i + 1 < argc) older = argv[i + 1];
        if (std::string(argv[i]) == "--distributed") distributed = true;
    }
    if (distributed) {
        if (Variable("TIDEWELL_TEST_PG_URI").empty() ||
            Variable("TIDEWELL_TEST_S3_ENDPOINT").empty()) {
            std::fprintf(stderr,
                         "--distributed needs the engines: script/engines run %s --distributed\n",
                         argv[0]);
            return 2;
        }
        // What the service's programs read.
        setenv("PGPASSFILE", Variable("TIDEWELL_TEST_PG_PASSFILE").c_str(), 1);
        setenv("TIDEWELL_S3_ENDPOINT", Variable("TIDEWELL_TEST_S3_ENDPOINT").c_str(), 1);
        setenv("TIDEWELL_S3_REGION", Variable("TIDEWELL_TEST_S3_REGION").c_str(), 1);
        setenv("TIDEWELL_S3_ACCESS_KEY", Variable("TIDEWELL_TEST_S3_ACCESS_KEY").c_str(), 1);
        setenv("TIDEWELL_S3_SECRET_KEY", Variable("TIDEWELL_TEST_S3_SECRET_KEY").c_str(), 1);
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::printf("archive: %.0f MiB over loopback\n",
                static_cast<double>(ArchiveBytes()) / (1024 * 1024));
    std::printf("%-28s %10s %10s %10s %12s\n", "", "up MiB/s", "down MiB/s", "requests/s",
                "peak RSS MiB");
    Row("before (recorded)", Figures{400, 1528, 921, 10.5});
    // The machine is shared: the best of a few runs is the service's own speed, and the two
    // builds take turns so that both meet the same load.
    const char* runs = getenv("TIDEWELL_BENCH_RUNS");
    const int count = runs ? std::max(1, std::atoi(runs)) : 3;
    Figures old, current, shared;
    for (int i = 0; i < count; ++i) {
        if (!older.empty()) KeepBest(old, Measure(older));
        KeepBest(current, Measure(TIDEWELL_WEBFOLDER_PROGRAM));
        if (distributed) KeepBest(shared, Measure(TIDEWELL_WEBFOLDER_PROGRAM, true));
    }
    if (!older.empty()) Row("before (measured now)", old);
    Row("this build", current);
    if (distributed) {
        Row("this build, PostgreSQL + S3", shared);
        std::printf("%-28s %10.2f %10.2f %10.2f %12.2f\n", "distributed / embedded",
                    shared.upMiBps / current.upMiBps, shared.downMiBps / current.downMiBps,
                    shared.requestsPerSecond / current.requestsPerSecond,
                    shared.peakMiB / current.peakMiB);
    }
    curl_global_cleanup();
    return 0;
}
