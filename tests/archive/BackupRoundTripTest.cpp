// Packing and restoring through the component: content, times, order, modes, events.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/ArchiveAttribute.h"
#include "archive/ArchiveFormat.h"
#include "archive/ArchiveListing.h"
#include "archive/FileSearch.h"
#include "archive/backup.h"
#include "platform/FileKit.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

using archive::LowerAscii;

class BackupRoundTrip : public ArchiveFixture {
protected:
    std::vector<std::string> Names(const std::string& archiveName) {
        std::vector<std::string> names;
        archive::ListArchive(archiveName,
                             [&](const archive::ArchiveMember& m) { names.push_back(m.name); });
        return names;
    }
};

TEST_F(BackupRoundTrip, ContentAndTimesSurviveAtEveryLevel) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"random.bin", RandomBytes(50000, 1)},
        {"text.txt", Compressible(70000)},
        {"empty.dat", ""},
        {"exact.bin", RandomBytes(16384, 2)},
        {"oneover.bin", Compressible(16385)},
    };
    DosDateTime date = DosTime(2001, 2, 3, 4, 5, 6);
    for (const auto& [name, bytes] : files) Put("src/" + name, bytes, date += 2);
    for (const TCompressionLevel level : {clFastest, clNone, clDefault, clMax}) {
        SCOPED_TRACE(level);
        fs::remove_all(Path("dest"));
        std::vector<std::pair<std::string, int>> progress;
        TBackupFile backup;
        backup.CompressionLevel = level;
        backup.OnProgress = [&](TBackupFile*, const std::string& file, TPercentage percent, bool&) {
            progress.emplace_back(file, percent);
        };
        core.pump.count = 0;
        ASSERT_TRUE(backup.Backup({P("src/*.*")}, P("out.bck")));
        // 4 + 5 + 0 + 1 + 2 blocks, each followed by the pump and a progress event.
        EXPECT_EQ(core.pump.count, 12);
        ASSERT_EQ(progress.size(), 14u);
        EXPECT_EQ(progress.front(), std::make_pair(std::string(), 0));
        EXPECT_EQ(progress.back(), std::make_pair(std::string(), 100));
        EXPECT_EQ(progress[progress.size() - 2].second, 100);
        for (std::size_t i = 1; i < progress.size(); ++i)
            EXPECT_LE(progress[i - 1].second, progress[i].second);

        ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
        date = DosTime(2001, 2, 3, 4, 5, 6);
        for (const auto& [name, bytes] : files) {
            EXPECT_TRUE(SameBytes(Get("dest/" + name), bytes)) << name;
            EXPECT_EQ(DateOf("dest/" + name), date += 2) << name;
        }
    }
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(BackupRoundTrip, ProgressRoundsHalvesToEven) {
    Put("eight.bin", Compressible(8 * 16384));
    std::vector<int> percents;
    TBackupFile backup;
    backup.OnProgress = [&](TBackupFile*, const std::string&, TPercentage percent, bool&) {
        percents.push_back(percent);
    };
    ASSERT_TRUE(backup.Backup({P("eight.bin")}, P("out.bck")));
    EXPECT_EQ(percents, (std::vector<int>{0, 12, 25, 38, 50, 62, 75, 88, 100, 100}));

    percents.clear();
    ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
    // One more event at the block list's terminator.
    EXPECT_EQ(percents, (std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100, 100, 100}));
}

TEST_F(BackupRoundTrip, PatternsSubfoldersAndDuplicates) {
    for (const char* name :
         {"root/a.txt", "root/b.log", "root/Upper.TXT", "root/noext", "root/sub1/c.txt",
          "root/sub1/deep/d.txt", "root/sub2/e.txt", "root/sub2/f.log"}) {
        Put(name, name);
    }
    const std::string root = LowerAscii(P("root"));
    TBackupFile backup;
    // The archive itself matches the pattern and is left out; a.txt counts once, at its first
    // match.
    ASSERT_TRUE(backup.Backup({P("root/a.txt"), P("root/*.txt") + " /S"}, P("root/pack.txt")));
    EXPECT_EQ(Names(P("root/pack.txt")),
              (std::vector<std::string>{Stored(root + "/a.txt"), Stored(root + "/sub1/deep/d.txt"),
                                        Stored(root + "/sub1/c.txt"), Stored(root + "/sub2/e.txt"),
                                        Stored(root + "/upper.txt")}));
    EXPECT_EQ(backup.FileCount(), 5);

    fs::remove(Path("root/pack.txt"));
    ASSERT_TRUE(backup.Backup({P("root/*.*"), P("root/sub2/?.log")}, P("all.bck")));
    EXPECT_EQ(Names(P("all.bck")),
              (std::vector<std::string>{Stored(root + "/a.txt"), Stored(root + "/b.log"),
                                        Stored(root + "/noext"), Stored(root + "/upper.txt"),
                                        Stored(root + "/sub2/f.log")}));

    // Stored names are lower-cased, yet the file is found by its real spelling.
    ASSERT_TRUE(backup.Backup({P("root/Upper.TXT")}, P("one.bck")));
    ASSERT_TRUE(backup.Restore(P("one.bck"), P("dest")));
    EXPECT_EQ(Get("dest/upper.txt"), "root/Upper.TXT");
}

// Members given by a source (a database read under its lock) go first, under the name and time
// given, and a listed file of that name is not packed again; a source that breaks off fails the
// archive rather than leaving a short member in it.
TEST_F(BackupRoundTrip, SourcesGoFirstUnderTheirNameAndTimeAndOnlyOnce) {
    const std::string bytes = RandomBytes(40000, 3) + Compressible(30000);
    Put("src/db.mdb", "the file on the disk");
    Put("src/other.txt", "other");
    const DosDateTime date = DosTime(2011, 5, 6, 7, 8, 10);
    const std::string src = LowerAscii(P("src"));
    StringSource source(bytes);
    TBackupFile backup;
    ASSERT_TRUE(backup.Backup({{P("src/db.mdb"), date, &source}}, {P("src/*.*")}, P("out.bck")));
    EXPECT_EQ(Names(P("out.bck")),
              (std::vector<std::string>{Stored(src + "/db.mdb"), Stored(src + "/other.txt")}));
    ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
    EXPECT_TRUE(SameBytes(Get("dest/db.mdb"), bytes));
    EXPECT_EQ(DateOf("dest/db.mdb"), date);
    EXPECT_EQ(Get("dest/other.txt"), "other");

    StringSource broken(bytes, 20000);
    backup.OnError = [](TBackupFile*, int, const std::string&) {};
    EXPECT_FALSE(backup.Backup({{P("src/db.mdb"), date, &broken}}, {}, P("broken.bck")));
    EXPECT_EQ(backup.ErrorCode(), beCannotReadFile);
}

TEST_F(BackupRoundTrip, SpansDiskFilesAndRestoresWhole) {
    const std::string data = RandomBytes(200000, 3);
    Put("big.bin", data);
    std::vector<int> disks;
    TBackupFile backup;
    backup.MaxSize = 100000;
    backup.OnNeedDisk = [&](TBackupFile*, std::uint16_t disk, bool&) { disks.push_back(disk); };
    ASSERT_TRUE(backup.Backup({P("big.bin")}, P("x.bck")));
    EXPECT_EQ(disks, (std::vector<int>{2, 3}));

    const std::string nextDisk2 = ArchiveBytes().Terminator().Text("NEXT:DISK002").bytes();
    const std::string nextDisk3 = ArchiveBytes().Terminator().Text("NEXT:DISK003").bytes();
    const std::string first = Get("x.bck"), second = Get("x.002"), third = Get("x.003");
    for (const std::string* disk : {&first, &second, &third}) EXPECT_LT(disk->size(), 100000u);
    EXPECT_TRUE(first.ends_with(nextDisk2));
    EXPECT_TRUE(second.starts_with(std::string("EC2\0", 4)));
    EXPECT_TRUE(second.ends_with(nextDisk3));
    EXPECT_TRUE(third.ends_with(ArchiveBytes().Terminator().EndMarker().bytes()));
    EXPECT_FALSE(fs::exists(Path("x.004")));

    disks.clear();
    int restoredEvents = 0;
    backup.OnFileRestored = [&](TBackupFile*, std::string&, TFileStream&) { ++restoredEvents; };
    ASSERT_TRUE(backup.Restore(P("x.bck"), P("dest")));
    EXPECT_EQ(disks, (std::vector<int>{2, 3}));
    EXPECT_EQ(restoredEvents, 3);
    EXPECT_TRUE(SameBytes(Get("dest/big.bin"), data));
    EXPECT_EQ(DateOf("dest/big.bin"), kDate);

    // Without a handler the user is asked, and may say no.
    backup.OnNeedDisk = nullptr;
    core.ui.answers = {MessageResult::Ok, MessageResult::Cancel};
    EXPECT_FALSE(backup.Restore(P("x.bck"), P("dest2")));
    ASSERT_EQ(core.ui.boxes.size(), 2u);
    EXPECT_EQ(core.ui.boxes[0].title, "Tidewell");
    EXPECT_EQ(core.ui.boxes[0].text, "Please insert disk 2 and click OK to continue.");
    EXPECT_EQ(core.ui.boxes[1].text, "Please insert disk 3 and click OK to continue.");
    EXPECT_EQ(backup.ErrorCode(), 0);
}

TEST_F(BackupRoundTrip, DiskTooSmallForAnyBlockAsksUntilCancelAndStopsAtTheLastDiskName) {
    Put("a.bin", "abc");
    TBackupFile backup;
    backup.MaxSize = 16484 + 4;  // a fresh disk holds its signature and nothing more
    int asked = 0;
    backup.OnNeedDisk = [&](TBackupFile*, std::uint16_t, bool& go) { go = ++asked < 5; };
    EXPECT_FALSE(backup.Backup({P("a.bin")}, P("x.bck")));
    EXPECT_EQ(asked, 5);
    EXPECT_EQ(Get("x.003"), ArchiveBytes().Signature().Terminator().Text("NEXT:DISK004").bytes());
    EXPECT_EQ(backup.ErrorCode(), 0);

    // Disk 1000 would be named x.000 and disk 1002 would overwrite x.002: it stops at 999.
    backup.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool&) {};
    backup.OnError = [](TBackupFile*, int, const std::string&) {};
    EXPECT_FALSE(backup.Backup({P("a.bin")}, P("y.bck")));
    EXPECT_EQ(backup.ErrorCode(), beCannotWriteArchive);
    EXPECT_TRUE(fs::exists(Path("y.999")));
    EXPECT_FALSE(fs::exists(Path("y.000")));
}

TEST_F(BackupRoundTrip, CancelInTheFirstEventLeavesTheHeaderOnly) {
    Put("a.txt", "abc");
    TBackupFile backup;
    backup.OnProgress = [](TBackupFile*, const std::string&, TPercentage percent, bool& go) {
        if (percent == 0) go = false;
    };
    EXPECT_FALSE(backup.Backup({P("a.txt")}, P("out.bck")));
    EXPECT_EQ(Get("out.bck"), ArchiveBytes().Header("", 3, 1).bytes());
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(BackupRoundTrip, ArchiveOfACancelledPackRestoresWhatItHoldsThenFails) {
    const std::string second = RandomBytes(40000, 4);
    Put("a.txt", "first");
    Put("b.bin", second);
    TBackupFile backup;
    backup.OnProgress = [](TBackupFile* sender, const std::string& file, TPercentage, bool& go) {
        if (file.ends_with("b.bin") && sender->DoneSize() > 16384) go = false;
    };
    EXPECT_FALSE(backup.Backup({P("*.txt"), P("*.bin")}, P("out.bck")));

    TBackupFile reader;
    EXPECT_THROW(reader.Restore(P("out.bck"), P("dest")), archive::ArchiveError);
    EXPECT_EQ(Get("dest/a.txt"), "first");
    EXPECT_TRUE(SameBytes(Get("dest/b.bin"), second.substr(0, 16384)));
}

// Write system calls of this process so far, or nothing where the system does not count them.
std::optional<long> WriteCalls() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        long value = 0;
        io >> value;
        if (key == "syscw:") return value;
    }
    return std::nullopt;
}

// A restore writes its blocks in large batches, yet whatever stops it, the target holds every
// block counted as written, before OnFileRestored sees it, and a full disk is reported.
TEST_F(BackupRoundTrip, RestoreWritesInBatchesYetKeepsEveryWrittenBlockAtAnyStop) {
    const std::string big = Compressible(3 * 1024 * 1024 + 5000);
    Put("src/big.bin", big);
    Put("src/small.txt", "after");
    TBackupFile packer;
    ASSERT_TRUE(packer.Backup({P("src/big.bin"), P("src/small.txt")}, P("out.bck")));

    const std::optional<long> before = WriteCalls();
    TBackupFile whole;
    whole.WorkerThreads = 1;
    ASSERT_TRUE(whole.Restore(P("out.bck"), P("whole")));
    if (const std::optional<long> after = WriteCalls(); before && after) {
        EXPECT_LE(*after - *before, 10) << "one write per block would make 197";
    }
    EXPECT_TRUE(SameBytes(Get("whole/big.bin"), big));

    // Cut in the middle of a block of the big member, past its first batch.
    const std::string archive = Get("out.bck");
    Put("cut.bck", archive.substr(0, archive.size() * 2 / 3));

    struct Stop {
        int cancelAtEvent = 0;       // 0: none
        std::int64_t diskRoom = -1;  // bytes until the disk is full; -1: no limit
        const char* archive = "out.bck";
    };
    for (const Stop stop :
         {Stop{3}, Stop{70}, Stop{140}, Stop{0, 10000}, Stop{0, 1500000}, Stop{0, -1, "cut.bck"}}) {
        SCOPED_TRACE(testing::Message() << "cancel at " << stop.cancelAtEvent << ", room "
                                        << stop.diskRoom << ", " << stop.archive);
        fs::remove_all(Path("dest"));
        TBackupFile backup;
        int events = 0;
        backup.OnProgress = [&](TBackupFile*, const std::string&, TPercentage, bool& go) {
            if (++events == stop.cancelAtEvent) go = false;
        };
        std::int64_t seenAtRestored = -1;
        backup.OnFileRestored = [&](TBackupFile*, std::string&, TFileStream& stream) {
            seenAtRestored = stream.Size();
        };
        std::vector<int> errors;
        backup.OnError = [&](TBackupFile*, int code, const std::string&) {
            errors.push_back(code);
        };
        {
            std::optional<ScopedWriteFault> full;
            if (stop.diskRoom >= 0) full.emplace(stop.diskRoom);
            EXPECT_FALSE(backup.Restore(P(stop.archive), P("dest")));
        }
        const std::string restored = Get("dest/big.bin");
        const auto size = static_cast<std::int64_t>(restored.size());
        EXPECT_EQ(size, seenAtRestored);
        EXPECT_TRUE(SameBytes(restored, big.substr(0, restored.size())));
        EXPECT_FALSE(fs::exists(Path("dest/small.txt")));
        if (stop.diskRoom >= 0) {
            EXPECT_EQ(size, stop.diskRoom);
            EXPECT_NE(backup.ErrorDetail().find("No space left"), std::string::npos)
                << backup.ErrorDetail();
        } else {
            EXPECT_EQ(size, backup.DoneSize());
            EXPECT_GT(size, stop.cancelAtEvent == 3 ? 0 : 1024 * 1024);
        }
        EXPECT_EQ(errors,
                  stop.cancelAtEvent > 0 ? std::vector<int>{} : std::vector<int>{beCannotReadFile});
    }
}

TEST_F(BackupRoundTrip, RestoreModesAtEqualAndOlderDates) {
    Put("src/f.txt", "archived");
    TBackupFile packer;
    ASSERT_TRUE(packer.Backup({P("src/f.txt")}, P("out.bck")));

    enum Target { missing, equal, older };
    struct Case {
        TRestoreMode mode;
        Target target;
        bool written;
    };
    const Case cases[] = {
        {rmAll, equal, true},           {rmAll, missing, true},
        {rmNoOverwrite, equal, false},  {rmNoOverwrite, missing, true},
        {rmNewer, equal, false},        {rmNewer, older, true},
        {rmNewer, missing, true},       {rmExisting, equal, true},
        {rmExisting, missing, false},   {rmExistingNewer, equal, false},
        {rmExistingNewer, older, true}, {rmExistingNewer, missing, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " target " << c.target);
        fs::remove_all(Path("dest"));
        fs::create_directories(Path("dest"));
        if (c.target == equal) Put("dest/f.txt", "local", kDate);
        if (c.target == older) Put("dest/f.txt", "local", kDate - 1);  // two seconds earlier
        TBackupFile backup;
        backup.RestoreMode = c.mode;
        ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
        const bool exists = fs::exists(Path("dest/f.txt"));
        EXPECT_EQ(exists && Get("dest/f.txt") == "archived", c.written);
        if (c.target != missing) {
            EXPECT_TRUE(exists);
        }
    }
}

TEST_F(BackupRoundTrip, OnRestoreFileRedirectsOrRefuses) {
    Put("src/keep.txt", "keep");
    Put("src/skip.txt", "skip");
    TBackupFile backup;
    ASSERT_TRUE(backup.Backup({P("src/*")}, P("out.bck")));
    backup.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t date, bool& go) {
        EXPECT_EQ(date, kDate);
        EXPECT_TRUE(go);
        if (name.ends_with("keep.txt")) name = P("elsewhere/new/kept.txt");
        if (name.ends_with("skip.txt")) go = false;
    };
    ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
    EXPECT_EQ(Get("elsewhere/new/kept.txt"), "keep");
    EXPECT_EQ(DateOf("elsewhere/new/kept.txt"), kDate);
    EXPECT_FALSE(fs::exists(Path("dest")));
}

TEST_F(BackupRoundTrip, StreamModeReadsNoFurtherThanTheArchive) {
    Put("a.txt", Compressible(20000));
    std::ostringstream out;
    out << "prefix";
    TBackupFile backup;
    backup.OutStream = &out;
    backup.MaxSize = 20000;  // no meaning for a stream: it stays one piece
    ASSERT_TRUE(backup.Backup({P("a.txt")}, ":STREAM"));

    std::istringstream in(out.str() + "after");
    in.seekg(6);
    backup.InStream = &in;
    ASSERT_TRUE(backup.Restore(":STREAM", P("dest")));
    EXPECT_EQ(Get("dest/a.txt"), Compressible(20000));
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "after");
}

TEST_F(BackupRoundTrip, FailuresAreReportedByDialogOrByOnError) {
    Put("a.txt", "abc");
    TBackupFile backup;
    EXPECT_FALSE(backup.Backup({P("a.txt")}, P("no/such/folder/out.bck")));
    ASSERT_EQ(core.ui.boxes.size(), 1u);
    EXPECT_EQ(core.ui.boxes[0].title, "Tidewell");
    EXPECT_EQ(core.ui.boxes[0].icon, MessageIcon::Error);
    EXPECT_TRUE(core.ui.boxes[0].text.starts_with("Cannot write to archive\n"))
        << core.ui.boxes[0].text;

    std::vector<std::pair<int, std::string>> errors;
    backup.OnError = [&](TBackupFile*, int code, const std::string& text) {
        errors.emplace_back(code, text);
    };
    EXPECT_FALSE(backup.Backup({P("a.txt")}, P("no/such/folder/out.bck")));
    EXPECT_EQ(errors, (std::vector<std::pair<int, std::string>>{{4, "Cannot write to archive"}}));
    EXPECT_EQ(core.ui.boxes.size(), 1u);

    // Without a temporary folder there is no file list; the header is written all the same.
    backup.TempFolder = P("no/such/folder");
    backup.SaveFileID = true;
    errors.clear();
    EXPECT_FALSE(backup.Backup({P("a.txt")}, P("out.bck")));
    EXPECT_EQ(errors, (std::vector<std::pair<int, std::string>>{
                          {7, "Cannot create temporary file to save the file IDs"}}));
    EXPECT_EQ(Get("out.bck"), ArchiveBytes().Header("", 3, 1).bytes());

    // A missing archive is no error at all.
    EXPECT_FALSE(backup.Restore(P("missing.bck"), P("dest")));
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(fs::exists(Path("dest")));
}

TEST_F(BackupRoundTrip, IncrementalPacksWhatChangedSinceItsLastBackup) {
    const auto a = Put("src/a.txt", "a");
    const auto b = Put("src/b.txt", "b");
    archive::ClearArchiveFlag(a);
    if (archive::ArchiveFlagSet(a)) GTEST_SKIP() << "no user extended attributes here";
    EXPECT_TRUE(archive::ArchiveFlagSet(b));

    TBackupFile backup;
    backup.SetBackupMode(bmIncremental);
    EXPECT_TRUE(backup.SetArchiveFlag);
    ASSERT_TRUE(backup.Backup({P("src/*")}, P("1.bck")));
    EXPECT_EQ(Names(P("1.bck")), (std::vector<std::string>{Stored(LowerAscii(P("src/b.txt")))}));
    ASSERT_TRUE(backup.Backup({P("src/*")}, P("2.bck")));
    EXPECT_TRUE(Names(P("2.bck")).empty());

    Put("src/a.txt", "changed", kDate + 2);
    ASSERT_TRUE(backup.Backup({P("src/*")}, P("3.bck")));
    EXPECT_EQ(Names(P("3.bck")), (std::vector<std::string>{Stored(LowerAscii(P("src/a.txt")))}));

    backup.SetBackupMode(bmAll);  // leaves the flag option as it is
    EXPECT_TRUE(backup.SetArchiveFlag);
    ASSERT_TRUE(backup.Backup({P("src/*")}, P("4.bck")));
    EXPECT_EQ(Names(P("4.bck")).size(), 2u);
}

TEST(FilePatterns, MatchLikeTheDirectorySearchOfTheArchivesHome) {
    using archive::MatchesPattern;
    EXPECT_TRUE(MatchesPattern("*.*", "noext"));
    EXPECT_TRUE(MatchesPattern("*.MDB", "default.mdb"));
    EXPECT_TRUE(MatchesPattern("def?ult.*", "default"));
    EXPECT_TRUE(MatchesPattern("*a*b*", "xxaYYbzz"));
    EXPECT_FALSE(MatchesPattern("*.mdb", "default.mdb.bak"));
    EXPECT_FALSE(MatchesPattern("?", ""));
    EXPECT_FALSE(MatchesPattern("a*c", "abcd"));
}

}  // namespace
}  // namespace tidewell::test
