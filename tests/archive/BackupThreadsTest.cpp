// Blocks are compressed and inflated on several threads, yet the caller must see exactly what one
// thread shows it: the same bytes on disk up to any stop, the same events with the same values, in
// the same order, on its own thread.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <thread>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/ArchiveAttribute.h"
#include "archive/BlockCodec.h"
#include "archive/backup.h"
#include "platform/FileKit.h"
#include "platform/MessagePump.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

// Everything an operation shows its caller, in order, and what it leaves on disk.
struct Trace {
    std::vector<std::string> events;
    bool result = false;
    int code = 0;
    std::string detail;
    std::string exception;
    std::map<std::string, std::string> files;
    bool offThread = false;  // an event came from a thread other than the caller's

    void Note(std::string event) {
        if (std::this_thread::get_id() != caller) offThread = true;
        events.push_back(std::move(event));
    }
    std::thread::id caller = std::this_thread::get_id();
};

class RecordingPump : public MessagePump {
public:
    explicit RecordingPump(Trace& trace) : trace_(trace) {}
    void ProcessMessages() override { trace_.Note("pump"); }

private:
    Trace& trace_;
};

// What to do to an operation: where to stop it and which fault to inject.
struct Scenario {
    const char* name;
    int cancelAtProgress = 0;  // the nth progress event clears Continue (1 is the first)
    int cancelAtDisk = 0;      // the prompt for this disk is cancelled
    std::int32_t maxSize = 0;
    std::int64_t writeBudget = -1;  // bytes until the disk is full
    std::string faultMarker;        // compressing the block that begins with it fails
};

void Attach(TBackupFile& backup, Trace& trace, const Scenario& scenario, int& progress) {
    backup.OnProgress = [&, scenario](TBackupFile* sender, const std::string& file,
                                      TPercentage percent, bool& go) {
        trace.Note("progress " + file + " " + std::to_string(percent) + " done " +
                   std::to_string(sender->DoneSize()) + " current " + sender->CurrentFile());
        if (++progress == scenario.cancelAtProgress) go = false;
    };
    backup.OnNeedDisk = [&, scenario](TBackupFile*, std::uint16_t disk, bool& go) {
        trace.Note("disk " + std::to_string(disk));
        if (disk == scenario.cancelAtDisk) go = false;
    };
    backup.OnError = [&](TBackupFile* sender, int code, const std::string& text) {
        trace.Note("error " + std::to_string(code) + " " + text + ": " + sender->ErrorDetail());
    };
    backup.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t date, bool& go) {
        trace.Note("restore " + name + " " + std::to_string(date) + (go ? " yes" : " no"));
    };
    backup.OnFileRestored = [&](TBackupFile*, std::string& name, TFileStream& stream) {
        trace.Note("restored " + name + " at " + std::to_string(stream.Position()));
    };
}

void ExpectSame(const Trace& actual, const Trace& expected) {
    EXPECT_FALSE(actual.offThread);
    EXPECT_EQ(actual.events, expected.events);
    EXPECT_EQ(actual.result, expected.result);
    EXPECT_EQ(actual.code, expected.code);
    EXPECT_EQ(actual.detail, expected.detail);
    EXPECT_EQ(actual.exception, expected.exception);
    ASSERT_EQ(actual.files.size(), expected.files.size());
    for (const auto& [name, bytes] : expected.files) {
        ASSERT_TRUE(actual.files.count(name)) << name;
        EXPECT_TRUE(SameBytes(actual.files.at(name), bytes)) << name;
    }
}

class BackupThreads : public ArchiveFixture {
protected:
    void SetUp() override {
        // Compressible, stored and empty members; a block that starts with a marker for faults.
        Put("src/a.bin", Compressible(2 * 16384) + "FAULT!" + Compressible(3 * 16384));
        Put("src/b.bin", RandomBytes(40000, 11));
        Put("src/c.txt", "");
        Put("src/d.txt", Compressible(16384));
    }

    std::map<std::string, std::string> FilesIn(const std::string& folder) const {
        std::map<std::string, std::string> files;
        if (!fs::exists(Path(folder))) return files;
        for (const auto& entry : fs::recursive_directory_iterator(Path(folder))) {
            if (entry.is_regular_file()) {
                files[fs::relative(entry.path(), Path(folder)).string()] = ReadFile(entry.path());
            }
        }
        return files;
    }

    Trace Pack(int threads, const Scenario& scenario) {
        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        Trace trace;
        RecordingPump pump(trace);
        ScopedMessagePump scopedPump(pump);
        TBackupFile backup;
        backup.WorkerThreads = threads;
        backup.CompressionLevel = clDefault;
        backup.MaxSize = scenario.maxSize;
        int progress = 0;
        Attach(backup, trace, scenario, progress);
        {
            std::optional<ScopedWriteFault> full;
            if (scenario.writeBudget >= 0) full.emplace(scenario.writeBudget);
            std::optional<archive::ScopedCompressionFault> broken;
            if (!scenario.faultMarker.empty()) broken.emplace(scenario.faultMarker);
            trace.result = backup.Backup({P("src/*")}, P("out/x.bck"));
        }
        trace.code = backup.ErrorCode();
        trace.detail = backup.ErrorDetail();
        trace.files = FilesIn("out");
        return trace;
    }

    Trace Unpack(int threads, const std::string& archiveName, const Scenario& scenario) {
        fs::remove_all(Path("dest"));
        Trace trace;
        RecordingPump pump(trace);
        ScopedMessagePump scopedPump(pump);
        TBackupFile backup;
        backup.WorkerThreads = threads;
        int progress = 0;
        Attach(backup, trace, scenario, progress);
        try {
            trace.result = backup.Restore(P(archiveName), P("dest"));
        } catch (const archive::ArchiveError& e) {
            trace.exception = e.what();
        }
        trace.code = backup.ErrorCode();
        trace.detail = backup.ErrorDetail();
        trace.files = FilesIn("dest");
        return trace;
    }
};

TEST_F(BackupThreads, PackingShowsWhatOneThreadShowsUpToEveryKindOfStop) {
    const Trace whole = Pack(1, {"whole"});
    ASSERT_TRUE(whole.result);
    // The start, one event per block (6 + 3 + 0 + 1), the end.
    const int progressEvents = static_cast<int>(
        std::count_if(whole.events.begin(), whole.events.end(),
                      [](const std::string& e) { return e.starts_with("progress"); }));
    ASSERT_EQ(progressEvents, 12);

    const Scenario scenarios[] = {
        {"whole"},
        {"cancel in the first block", 2},
        {"cancel in a middle block", 4},
        {"cancel in the last block of a member", 7},
        {"cancel in the last block", progressEvents - 1},
        {"compression error in a worker", 0, 0, 0, -1, "FAULT!"},
        {"disk full at once", 0, 0, 0, 0},
        {"disk full in the first member", 0, 0, 0, 30000},
        {"disk full in the second member", 0, 0, 0, 100000},
        {"disks of 40000 bytes", 0, 0, 40000},
        {"disks of 40000 bytes, cancel at the third", 0, 3, 40000},
        {"disks of 40000 bytes, compression error", 0, 0, 40000, -1, "FAULT!"},
    };
    for (const Scenario& scenario : scenarios) {
        const Trace one = Pack(1, scenario);
        for (const int threads : {2, 3, 8}) {
            SCOPED_TRACE(testing::Message() << scenario.name << ", " << threads << " threads");
            ExpectSame(Pack(threads, scenario), one);
        }
    }

    // The stops are what they claim to be.
    EXPECT_FALSE(Pack(4, scenarios[2]).result);
    EXPECT_EQ(Pack(4, scenarios[2]).code, 0);
    const Trace broken = Pack(4, scenarios[5]);
    EXPECT_EQ(broken.code, beCompressionError);
    EXPECT_NE(broken.detail.find("injected"), std::string::npos) << broken.detail;
    EXPECT_EQ(Pack(4, scenarios[7]).code, beCannotWriteArchive);
    const Trace spanned = Pack(4, scenarios[9]);
    EXPECT_TRUE(spanned.result);
    EXPECT_EQ(spanned.files.size(), 3u);
}

TEST_F(BackupThreads, RestoringShowsWhatOneThreadShowsUpToEveryKindOfStop) {
    ASSERT_TRUE(Pack(1, {"plain"}).result);
    fs::rename(Path("out/x.bck"), Path("plain.bck"));
    ASSERT_TRUE(Pack(1, {"spanned", 0, 0, 40000}).result);
    fs::rename(Path("out"), Path("spanned"));
    // Cut in the middle of a member's third block.
    const std::string plain = Get("plain.bck");
    Put("cut.bck", plain.substr(0, plain.size() / 3));

    const std::pair<std::string, Scenario> cases[] = {
        {"plain.bck", {"whole"}},
        {"plain.bck", {"cancel in a middle block", 3}},
        {"plain.bck", {"cancel in the last block", 10}},
        {"spanned/x.bck", {"spanned"}},
        {"spanned/x.bck", {"spanned, cancel at the third disk", 0, 3}},
        {"cut.bck", {"cut short"}},
    };
    for (const auto& [archiveName, scenario] : cases) {
        const Trace one = Unpack(1, archiveName, scenario);
        for (const int threads : {2, 3, 8}) {
            SCOPED_TRACE(testing::Message() << scenario.name << ", " << threads << " threads");
            ExpectSame(Unpack(threads, archiveName, scenario), one);
        }
    }
    const Trace whole = Unpack(4, "plain.bck", {"whole"});
    EXPECT_TRUE(whole.result);
    EXPECT_EQ(whole.files.at("a.bin"), Get("src/a.bin"));
    EXPECT_EQ(Unpack(4, "spanned/x.bck", {"whole"}).files.at("b.bin"), Get("src/b.bin"));
    EXPECT_FALSE(Unpack(4, "cut.bck", {"cut"}).result);
}

// A file whose data did not all reach the archive still needs backing up.
TEST_F(BackupThreads, ArchiveFlagStaysSetForAMemberCutShortByACancel) {
    const fs::path file = Path("src/a.bin");
    archive::ClearArchiveFlag(file);
    if (archive::ArchiveFlagSet(file)) GTEST_SKIP() << "no user extended attributes here";
    int round = 0;
    for (const int threads : {1, 2}) {
        for (const int cancelAt :
             {2, 3, 6}) {  // the member's first, second and fifth of six blocks
            SCOPED_TRACE(testing::Message() << threads << " threads, cancel at event " << cancelAt);
            Put("src/a.bin", Get("src/a.bin"),
                kDate + 2 * ++round);  // written again: the flag is set
            ASSERT_TRUE(archive::ArchiveFlagSet(file));
            TBackupFile backup;
            backup.WorkerThreads = threads;
            backup.SetArchiveFlag = true;
            int events = 0;
            backup.OnProgress = [&](TBackupFile*, const std::string&, TPercentage, bool& go) {
                go = ++events != cancelAt;
            };
            EXPECT_FALSE(backup.Backup({P("src/a.bin")}, P("x.bck")));
            EXPECT_TRUE(archive::ArchiveFlagSet(file));
        }
        TBackupFile backup;
        backup.WorkerThreads = threads;
        backup.SetArchiveFlag = true;
        ASSERT_TRUE(backup.Backup({P("src/a.bin")}, P("x.bck")));
        EXPECT_FALSE(archive::ArchiveFlagSet(file));

        // The compressor fails on the member's last block: it is counted, never written.
        Put("src/e.bin", Compressible(16384) + "FAULT!" + Compressible(100), kDate + 2 * ++round);
        ASSERT_TRUE(archive::ArchiveFlagSet(Path("src/e.bin")));
        const archive::ScopedCompressionFault broken("FAULT!");
        TBackupFile failing;
        failing.WorkerThreads = threads;
        failing.SetArchiveFlag = true;
        EXPECT_FALSE(failing.Backup({P("src/e.bin")}, P("x.bck")));
        EXPECT_TRUE(archive::ArchiveFlagSet(Path("src/e.bin")));
    }
}

}  // namespace
}  // namespace tidewell::test
