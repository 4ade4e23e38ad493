// Moves a large archive up and down through the gateway against a loopback server and prints
// the client's peak memory and throughput next to curl's against the same server.
//
//   tidewell_gateway_bench [MiB [rounds]]      (default 1024 MiB, best of 3 rounds)
//
// Each client runs in a process of its own, so its peak resident size is its own.
// Targets: below 64 MiB peak either way, at least 0.8 of curl's throughput.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gateway/TidewellGateway.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace tidewell;

namespace {

constexpr const char* kArchiveName = "20240101120000.bck";

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// The client side, in its own process: one upload or one download, then "seconds peakKiB".
int RunClient(const std::string& direction, const std::string& url, const std::string& file) try {
    TTidewellGateway gateway(url);
    // The bench's own folder (TMPDIR, set by the parent) stands for the work folder.
    const char* work = std::getenv("TMPDIR");
    gateway.DownloadFolder = work ? work : "/tmp";
    TAnswerList answer;
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        direction == "up"
            ? gateway.UploadFile("bench", "bench", std::string(32, 'a'), "bench", file, answer)
            : gateway.DownloadFile("bench", "bench", std::string(32, 'a'), answer);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", direction.c_str(),
                     answer.Values("MESSAGE").c_str());
        return 1;
    }
    if (direction == "down")
        fs::remove(answer.Values("FILEPATH") + "/" + answer.Values("FILENAME"));
    std::printf("%.3f %ld\n", elapsed.count(), PeakResidentKiB());
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "%s failed: %s\n", direction.c_str(), error.what());
    return 1;
}

struct Run {
    std::string output;
    long maxRssKiB = 0;
    double cpuSeconds = 0;
    int status = -1;
};

// Starts a program and collects its standard output, CPU time and peak resident size.
Run Spawn(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Run run;
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, n);
    ::close(pipeFds[0]);
    rusage usage{};
    ::wait4(pid, &run.status, 0, &usage);
    run.maxRssKiB = usage.ru_maxrss;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return run;
}

void WriteRandomFile(const fs::path& path, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) word = random();
        const auto n = std::min<std::uint64_t>(size - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct Contender {
    std::string label;
    std::vector<std::string> args;
};

struct Result {
    bool ran = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    void Add(const std::optional<Result>& run) {
        if (!run) return;
        if (!ran || run->seconds < seconds) {
            seconds = run->seconds;
            cpuSeconds = run->cpuSeconds;
        }
        peakKiB = std::max(peakKiB, run->peakKiB);
        ran = true;
    }
};

// One run: the gateway client reports its own transfer time and VmHWM; curl its time_total,
// with the peak resident size from the kernel.
std::optional<Result> Measure(const Contender& contender) {
    std::vector<std::string> args = contender.args;
    const bool curl = args[0] == "curl";
    if (curl) args.insert(args.begin() + 1, {"-s", "-S", "-w", "%{time_total}"});
    const Run run = Spawn(args);
    Result result;
    result.ran = true;
    result.cpuSeconds = run.cpuSeconds;
    if (run.status != 0) return std::nullopt;
    if (curl) {
        result.seconds = std::atof(run.output.c_str());
        result.peakKiB = run.maxRssKiB;
    } else if (std::sscanf(run.output.c_str(), "%lf %ld", &result.seconds, &result.peakKiB) != 2) {
        return std::nullopt;
    }
    return result;
}

// The server: reads a request whole without looking into its body (so that a multipart body
// costs it no more than a plain one), then answers an upload with STATUS=0 and a download with
// the archive.
void Serve(int fd, const fs::path& archive, std::uint64_t archiveSize,
           std::atomic<std::uint64_t>& lastUpload) {
    std::vector<char> buffer(1 << 20);
    std::string head;
    std::size_t end = std::string::npos;
    while (end == std::string::npos) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) return;
        head.append(buffer.data(), static_cast<std::size_t>(n));
        end = head.find("\r\n\r\n");
    }
    std::uint64_t bodySize = 0;
    for (std::size_t at = head.find("\r\n"); at < end; at = head.find("\r\n", at + 2)) {
        if (strncasecmp(head.c_str() + at + 2, "Content-Length:", 15) == 0) {
            bodySize = std::strtoull(head.c_str() + at + 17, nullptr, 10);
        }
    }
    if (strcasestr(head.c_str(), "Expect: 100-continue") != nullptr) {
        const std::string proceed = "HTTP/1.1 100 Continue\r\n\r\n";  // curl asks, as it should
        if (::send(fd, proceed.data(), proceed.size(), MSG_NOSIGNAL) < 0) return;
    }
    std::uint64_t received = head.size() - end - 4;
    while (received < bodySize) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) return;
        received += static_cast<std::uint64_t>(n);
    }
    std::string reply;
    const bool download = head.find("gwdownload.asp") < end;
    if (download) {
        reply = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(archiveSize) + "\r\nContent-Disposition: attachment; filename=\"" +
                kArchiveName + "\"\r\n\r\n";
    } else {
        lastUpload = received;
        reply = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nSTATUS=0\r\n";
    }
    if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) return;
    if (download) {
        const int file = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        off_t offset = 0;
        while (static_cast<std::uint64_t>(offset) < archiveSize &&
               ::sendfile(fd, file, &offset, archiveSize - static_cast<std::uint64_t>(offset)) >
                   0) {
        }
        ::close(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "client") return RunClient(argv[2], argv[3], argv[4]);

    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024) << 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    char pattern[] = "/tmp/tidewell-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path dir = pattern;
    fs::create_directories(dir / "tmp");
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);  // the client's work folder
    const fs::path source = dir / kArchiveName;
    WriteRandomFile(source, size);
    ::sync();  // no write-back of the new file during the runs

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 1;
    }
    const int port = ntohs(address.sin_port);
    std::atomic<std::uint64_t> lastUpload{0};
    std::thread serverThread([&] {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;  // the listener was shut down
            Serve(fd, source, size, lastUpload);
            ::close(fd);
        }
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(port);
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const std::string uploadUrl = url + "/tidewellweb/gwupload.asp";
    const std::string downloadUrl = url + "/tidewellweb/gwdownload.asp";
    const std::string curlOut = (dir / "curl.bck").string();
    // curl keeps --data-binary in memory and refuses files of 1 GiB and more; -T streams the
    // same bytes from the file, so it stands in where --data-binary can't run.
    const std::vector<Contender> directions[] = {
        {{"gateway UploadFile", {self, "client", "up", url, source.string()}},
         {"curl --data-binary @file",
          {"curl", "--data-binary", "@" + source.string(), "-o", "/dev/null", uploadUrl}},
         {"curl -T file -X POST",
          {"curl", "-T", source.string(), "-X", "POST", "-o", "/dev/null", uploadUrl}}},
        {{"gateway DownloadFile", {self, "client", "down", url, source.string()}},
         {"curl --data ... -o file",
          {"curl", "--data", "userid=bench", "-o", curlOut, downloadUrl}}},
    };
    std::printf("%llu MiB through a loopback server, best of %d runs each\n",
                static_cast<unsigned long long>(size >> 20), rounds);
    int failures = 0;
    for (const auto& contenders : directions) {
        std::vector<Result> results(contenders.size());
        // Taking turns spreads the machine's other work over everyone.
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < contenders.size(); ++i) {
                results[i].Add(Measure(contenders[i]));
                fs::remove(curlOut);
            }
        }
        std::printf("%s\n", &contenders == &directions[0] ? "upload" : "download");
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            const Result& r = results[i];
            if (!r.ran) {
                std::printf("  %-26s did not run\n", contenders[i].label.c_str());
                failures += i == 0;
                continue;
            }
            std::printf("  %-26s %7.1f MiB/s  %5.2f s  cpu %5.2f s  peak %7.1f MiB",
                        contenders[i].label.c_str(), size / r.seconds / (1 << 20), r.seconds,
                        r.cpuSeconds, r.peakKiB / 1024.0);
            if (i > 0 && results[0].ran)
                std::printf("  gateway/curl %.2f", r.seconds / results[0].seconds);
            std::printf("\n");
        }
    }
    if (lastUpload < size) ++failures;
    ::shutdown(listener, SHUT_RDWR);
    serverThread.join();
    ::close(listener);
    fs::remove_all(dir);
    return failures == 0 ? 0 : 1;
}
