// Time of each stage of a company backup (copy, compaction, packing) and of the whole backup,
// for a large company database (256 MiB unless TIDEWELL_BENCH_MIB says otherwise), with the
// process's peak memory so far after each stage and each stage's wall time against its floor
// (of_cp: a plain copy of the file; of_pack_floor: the block library on every core in memory).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "BenchFloors.h"
#include "BenchMeasures.h"
#include "CompanyMaker.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "platform/CompanyDatabase.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// The company and everything the benchmarks write go with the object, at the program's end.
struct BenchCompany {
    std::string root;
    std::string folder;  // the company
    std::string work;    // copies and archives
    std::int64_t bytes = 0;
    BenchCompany() = default;
    BenchCompany(BenchCompany&& other) noexcept
        : root(std::exchange(other.root, {})),
          folder(std::move(other.folder)),
          work(std::move(other.work)),
          bytes(other.bytes) {}
    BenchCompany(const BenchCompany&) = delete;
    BenchCompany& operator=(const BenchCompany&) = delete;
    BenchCompany& operator=(BenchCompany&&) = delete;
    ~BenchCompany() {
        std::error_code ignored;
        if (!root.empty()) fs::remove_all(root, ignored);
    }
};

std::int64_t TargetBytes() {
    const char* mib = getenv("TIDEWELL_BENCH_MIB");
    return (mib ? std::atoll(mib) : 256) * 1024 * 1024;
}

}  // namespace

// Made in a child process, so that the peak memory of this one only shows the backup.
const BenchCompany& Company() {
    static const BenchCompany company = [] {
        BenchCompany made;
        std::string pattern = (fs::temp_directory_path() / "tidewell-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        made.root = pattern;
        made.folder = made.root + "/company";
        made.work = made.root + "/work";
        fs::create_directory(made.work);
        const pid_t child = fork();
        if (child == 0) {
            MakeCompanyFolder(made.folder, {.name = "벤치 사업장", .minimumBytes = TargetBytes()});
            // Some deleted rows, as in a database in use, for the compaction to reclaim.
            ExecCompanySql(made.folder, "delete from inventory where id % 20 = 0");
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
        made.bytes = static_cast<std::int64_t>(fs::file_size(CompanyDatabaseFile(made.folder)));
        return made;
    }();
    return company;
}

namespace {

void Report(benchmark::State& state, std::int64_t bytes) {
    state.counters["database_MiB"] = static_cast<double>(Company().bytes) / (1 << 20);
    state.counters["peak_MiB"] = bench::PeakMiB();
    state.SetBytesProcessed(bytes);
}

std::string Copy() {
    return CompanyDatabaseFile(Company().work);
}
std::string Compacted() {
    return Company().work + "/default_compacted.mdb";
}
std::string Archive() {
    return Company().work + "/bench.bck";
}

// The floors each stage is held against, measured once: a plain copy of the file, and the
// block library on every core with the file in memory.
struct Floors {
    double copy = 0, pack = 0;
};
const Floors& FloorsOf() {
    static const Floors floors = [] {
        const std::string database = CompanyDatabaseFile(Company().folder);
        return Floors{bench::CopyFloorSeconds(database, Company().work + "/floor.mdb"),
                      bench::PackFloorSeconds(database)};
    }();
    return floors;
}

// The stage's wall time, of its floor.
void AgainstFloor(benchmark::State& state, double seconds, double floor, const char* name) {
    state.counters[name] = seconds / floor / static_cast<double>(state.iterations());
}

void BM_FloorCopy(benchmark::State& state) {
    for (auto _ : state) {
        state.SetIterationTime(FloorsOf().copy);
    }
    Report(state, Company().bytes);
}

void BM_FloorPackInMemory(benchmark::State& state) {
    for (auto _ : state) {
        state.SetIterationTime(FloorsOf().pack);
    }
    Report(state, Company().bytes);
}

void BM_Copy(benchmark::State& state) {
    const BenchCompany& company = Company();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CopyCompanyDatabaseFile(CompanyDatabaseFile(company.folder), Copy());
        seconds += bench::SecondsSince(start);
    }
    AgainstFloor(state, seconds, FloorsOf().copy, "of_cp");
    Report(state, company.bytes);
}

void BM_Compaction(benchmark::State& state) {
    const BenchCompany& company = Company();
    if (!fs::exists(Copy())) CopyCompanyDatabaseFile(CompanyDatabaseFile(company.folder), Copy());
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(Compacted());
        state.ResumeTiming();
        CompactCompanyDatabase(DatabaseConnectionString(Copy(), kShareExclusive),
                               DatabaseConnectionString(Compacted(), kShareExclusive));
    }
    state.counters["compacted_MiB"] = static_cast<double>(fs::file_size(Compacted())) / (1 << 20);
    Report(state, company.bytes);
}

// What a backup does now: one consistent, compacted snapshot of the live database.
void BM_Snapshot(benchmark::State& state) {
    const BenchCompany& company = Company();
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(Compacted());
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        SnapshotCompanyDatabase(CompanyDatabaseFile(company.folder), Compacted());
        seconds += bench::SecondsSince(start);
    }
    AgainstFloor(state, seconds, FloorsOf().copy, "of_cp");
    state.counters["snapshot_MiB"] = static_cast<double>(fs::file_size(Compacted())) / (1 << 20);
    Report(state, company.bytes);
}

void BM_Packing(benchmark::State& state) {
    const BenchCompany& company = Company();
    if (!fs::exists(Copy())) CopyCompanyDatabaseFile(CompanyDatabaseFile(company.folder), Copy());
    const auto bytes = static_cast<std::int64_t>(fs::file_size(Copy()));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TBackupFile packer;
        packer.SetBackupMode(bmAll);
        packer.CompressionLevel = clDefault;
        if (!packer.Backup({Copy()}, Archive())) state.SkipWithError("packing failed");
        seconds += bench::SecondsSince(start);
    }
    AgainstFloor(state, seconds, FloorsOf().pack, "of_pack_floor");
    state.counters["archive_MiB"] = static_cast<double>(fs::file_size(Archive())) / (1 << 20);
    Report(state, bytes);
}

void BM_WholeBackup(benchmark::State& state) {
    const BenchCompany& company = Company();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TBackupCompany backup(company.work);
        backup.SourceFolder = company.folder;
        std::string result;
        backup.Backup(Archive(), result);
        seconds += bench::SecondsSince(start);
    }
    AgainstFloor(state, seconds, FloorsOf().copy + FloorsOf().pack, "of_cp_plus_pack_floor");
    Report(state, company.bytes);
}

BENCHMARK(BM_FloorCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorPackInMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compaction)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snapshot)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Packing)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeBackup)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tidewell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    tidewell::Company();  // made before any clock runs
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
