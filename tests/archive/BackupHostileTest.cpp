// Downloaded archives are untrusted: damage ends in a clear error and nothing lands outside the
// destination.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <sstream>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/ArchiveFormat.h"
#include "archive/RestoreTarget.h"
#include "archive/backup.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

struct Outcome {
    bool result = false;
    int code = 0;
    std::string exception;
    std::string detail;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "result " << o.result << ", code " << o.code << ", exception \"" << o.exception
               << "\", detail \"" << o.detail << "\"";
}

class HostileArchive : public ArchiveFixture {
protected:
    // Restores with one thread and with several: both must end alike, and touch nothing outside.
    Outcome Restore(const std::string& bytes, bool fullPath = false, const std::string& dest = "box/dest") {
        const Outcome one = RestoreWith(1, bytes, fullPath, dest);
        const std::string restored = DestinationContent();
        EXPECT_EQ(RestoreWith(4, bytes, fullPath, dest), one);
        EXPECT_EQ(DestinationContent(), restored);
        return one;
    }

    Outcome RestoreWith(int threads, const std::string& bytes, bool fullPath, const std::string& dest) {
        fs::remove_all(Path("box"));
        Put("box/arch.bck", bytes);
        TBackupFile backup;
        backup.WorkerThreads = threads;
        backup.RestoreFullPath = fullPath;
        backup.OnError = [](TBackupFile*, int, const std::string&) {};
        Outcome outcome;
        try {
            outcome.result = backup.Restore(P("box/arch.bck"), dest.empty() ? "" : P(dest));
            outcome.code = backup.ErrorCode();
        } catch (const archive::ArchiveError& e) {
            outcome.exception = e.what();
        }
        outcome.detail = backup.ErrorDetail();
        EXPECT_EQ(Outside(), std::vector<std::string>{});
        return outcome;
    }

    // Every file below box/dest with its bytes.
    std::string DestinationContent() const {
        std::string content;
        if (!fs::exists(Path("box/dest"))) return content;
        for (const auto& entry : fs::recursive_directory_iterator(Path("box/dest"))) {
            content += entry.path().string() + "\n";
            if (entry.is_regular_file()) content += ReadFile(entry.path()) + "\n";
        }
        return content;
    }

    // What exists in the test folder besides the archive, the destination and the fixture's own.
    std::vector<std::string> Outside() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(core.dir.path())) {
            const std::string path = fs::relative(entry.path(), core.dir.path()).string();
            if (path == "box" || path == "box/arch.bck" || path.starts_with("box/dest") ||
                path.starts_with("src") || path.starts_with("tmp") || path.starts_with("run") ||
                path.starts_with("config")) {
                continue;
            }
            found.push_back(path);
        }
        return found;
    }

    // An archive whose one member is "f.txt" and whose block list is blocks.
    static std::string WithBlocks(const std::string& blocks, const std::string& name = "f.txt") {
        return ArchiveBytes().Header("", 1, 1).Member(name, 0).Signature().Raw(blocks).Terminator().EndMarker().bytes();
    }
};

// The same stream with its last byte, part of the Adler-32 trailer, changed.
std::string WithWrongChecksum(std::string stream) {
    stream.back() = static_cast<char>(stream.back() ^ 1);
    return stream;
}

TEST_F(HostileArchive, DamagedRecordsEndInAClearError) {
    struct Case {
        const char* what;
        std::string bytes;
        const char* exception;  // expected in the text, or null when an error code is expected
        int code;
    };
    const std::string fileList = ArchiveBytes().Header("", 0, 1).Member("FILE:LIST", 0).Signature().bytes();
    const Case cases[] = {
        {"huge name", ArchiveBytes().Header("", 0, 1).Int32(INT_MAX).Raw("x").bytes(), "a name length of", 0},
        {"negative name", ArchiveBytes().Header("", 0, 1).Int32(-1).bytes(), "a name length of -1", 0},
        {"name over 32768", ArchiveBytes().Header("", 0, 1).Int32(32769).bytes(), "a name length", 0},
        {"huge title", ArchiveBytes().Int32(INT_MAX - 8).Raw("title").bytes(), "Cannot read archive", 0},
        {"negative title", ArchiveBytes().Int32(-5).bytes(), "Cannot read archive", 0},
        {"block over 16384", WithBlocks(ArchiveBytes().Int32(16385).Raw("x").bytes()), nullptr, 1},
        {"lowest block length", WithBlocks(ArchiveBytes().Int32(INT_MIN).bytes()), nullptr, 1},
        {"skipped block over 16384", fileList + ArchiveBytes().Int32(-16385).bytes(), "a block length", 0},
        {"inflates past a block", WithBlocks(ArchiveBytes().Compressed(std::string(16385, 'a')).bytes()),
         nullptr, 6},
        {"broken zlib", WithBlocks(ArchiveBytes().Text("\x78\x9c not deflate at all").bytes()), nullptr, 6},
        {"wrong Adler-32", WithBlocks(ArchiveBytes().Text(WithWrongChecksum(FreshZlibBlock(Compressible(5000), 6))).bytes()),
         nullptr, 6},
        {"cut zlib", WithBlocks(ArchiveBytes().Text(FreshZlibBlock(Compressible(5000), 6).substr(0, 40)).bytes()),
         nullptr, 6},
        {"wrong signature", ArchiveBytes().Header("", 0, 1).Member("f.txt", 0).Raw("EC3").Int32(0).bytes(),
         nullptr, 1},
        {"wrong signature skipped", ArchiveBytes().Header("", 0, 1).Member("FILE:LIST", 0).Raw("EC2!").bytes(),
         "Invalid archive type", 0},
        {"cut in a block", ArchiveBytes().Header("", 9, 1).Member("f.txt", 0).Signature().Int32(-9).Raw("abc").bytes(),
         nullptr, 1},
        {"next disk first", ArchiveBytes().Header("", 0, 0).Text("NEXT:DISK002").bytes(), "before any member", 0},
        {"next disk out of turn", ArchiveBytes().Header("", 0, 1).Member("f.txt", 0).Signature().Terminator()
                                      .Text("NEXT:DISK005").bytes(), "followed by disk 005", 0},
        {"next disk not a number", ArchiveBytes().Header("", 0, 1).Member("f.txt", 0).Signature().Terminator()
                                       .Text("NEXT:DISK0x2").bytes(), "malformed", 0},
        {"zero byte in name", WithBlocks("", std::string("..\0/x", 5)), nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = Restore(c.bytes);
        EXPECT_FALSE(outcome.result);
        if (c.exception) {
            EXPECT_NE(outcome.exception.find(c.exception), std::string::npos) << outcome.exception;
        } else {
            EXPECT_EQ(outcome.exception, "");
            EXPECT_EQ(outcome.code, c.code);
        }
    }
}

// A block one byte over the bound, with all its bytes present and a proper end after it: a
// reader that let it through would overrun its block buffer or write more than a block.
TEST_F(HostileArchive, ABlockOneByteOverTheBoundIsRefusedEvenWhenWhole) {
    const std::string random = RandomBytes(16385, 12);
    // A stored deflate block of 16 374 bytes makes a zlib stream of exactly 16 385 bytes.
    std::string stream(17000, '\0');
    uLongf streamSize = stream.size();
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(stream.data()), &streamSize,
                        reinterpret_cast<const Bytef*>(random.data()), 16374, 0), Z_OK);
    stream.resize(streamSize);
    ASSERT_EQ(stream.size(), 16385u);
    ASSERT_EQ(InflateLikeTheFormatsReaders(stream), random.substr(0, 16374));

    Outcome outcome = Restore(WithBlocks(ArchiveBytes().Int32(-16385).Raw(random).bytes()));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.code, beCannotReadFile);
    EXPECT_NE(outcome.detail.find("a block length of -16385"), std::string::npos) << outcome.detail;
    EXPECT_EQ(Get("box/dest/f.txt"), "");

    outcome = Restore(WithBlocks(ArchiveBytes().Text(stream).bytes()));
    EXPECT_EQ(outcome.code, beCannotReadFile);
    EXPECT_NE(outcome.detail.find("a block length of 16385"), std::string::npos) << outcome.detail;
    EXPECT_EQ(Get("box/dest/f.txt"), "");

    // Passed over, not restored: the bound holds all the same.
    const std::string skipped = ArchiveBytes().Header("", 0, 1).Member("FILE:LIST", 0).Signature()
                                    .Int32(-16385).Raw(random).Terminator().EndMarker().bytes();
    outcome = Restore(skipped);
    EXPECT_NE(outcome.exception.find("a block length of -16385"), std::string::npos) << outcome.exception;

    // At the bound itself all is well.
    outcome = Restore(WithBlocks(ArchiveBytes().Int32(-16384).Raw(random.substr(0, 16384)).bytes()));
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Get("box/dest/f.txt"), random.substr(0, 16384));
}

// A link planted where a member is written is refused, not followed, also when the member goes
// on in the next disk file.
TEST_F(HostileArchive, APlantedLinkIsNeverFollowed) {
    Put("src/outside.txt", "keep");
    const std::string archive = WithBlocks(ArchiveBytes().Stored("x").bytes());
    for (const std::string& target : {P("src/outside.txt"), P("src/missing.txt")}) {
        SCOPED_TRACE(target);
        for (const int threads : {1, 4}) {
            fs::remove_all(Path("box"));
            Put("box/arch.bck", archive);
            fs::create_directories(Path("box/dest"));
            fs::create_symlink(target, Path("box/dest/f.txt"));
            TBackupFile backup;
            backup.WorkerThreads = threads;
            backup.OnError = [](TBackupFile*, int, const std::string&) {};
            EXPECT_FALSE(backup.Restore(P("box/arch.bck"), P("box/dest")));
            EXPECT_EQ(backup.ErrorCode(), beCannotReadFile);
            EXPECT_TRUE(fs::is_symlink(Path("box/dest/f.txt")));
            EXPECT_EQ(Get("src/outside.txt"), "keep");
            EXPECT_FALSE(fs::exists(Path("src/missing.txt")));
        }
    }

    // The member's second disk file would be appended through a link put there meanwhile.
    Put("src/big.bin", RandomBytes(60000, 13));
    TBackupFile packer;
    packer.MaxSize = 40000;
    packer.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool&) {};
    ASSERT_TRUE(packer.Backup({P("src/big.bin")}, P("span.bck")));
    for (const int threads : {1, 4}) {
        fs::remove_all(Path("box"));
        TBackupFile backup;
        backup.WorkerThreads = threads;
        backup.OnError = [](TBackupFile*, int, const std::string&) {};
        backup.OnNeedDisk = [&](TBackupFile*, std::uint16_t, bool&) {
            fs::remove(Path("box/dest/big.bin"));
            fs::create_symlink(Path("src/outside.txt"), Path("box/dest/big.bin"));
        };
        EXPECT_FALSE(backup.Restore(P("span.bck"), P("box/dest")));
        EXPECT_EQ(backup.ErrorCode(), beCannotReadFile);
        EXPECT_EQ(Get("src/outside.txt"), "keep");
    }
}

TEST_F(HostileArchive, NamesNeverLeaveTheDestination) {
    // Only the file part would be used, but a name that climbs is no writer's: refused.
    Outcome outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), "..\\..\\evil.txt"));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.code, beCannotReadFile);
    EXPECT_FALSE(fs::exists(Path("box/dest/evil.txt")));

    for (const char* name : {"..\\..\\evil.txt", "c:\\data\\..\\..\\evil.txt", "/../evil.txt", "c:\\dir\\..",
                             "c:\\dir\\"}) {
        SCOPED_TRACE(name);
        outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), name), true);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.code, beCannotReadFile);
    }

    // Without a destination the stored path is used, but only an absolute path of this system.
    for (const std::string& name : {std::string("c:\\evil.txt"), std::string("relative/evil.txt"),
                                   P("box/dest/../evil.txt"), Stored(P("box/dest/../evil.txt")),
                                   std::string("relative\\evil.txt")}) {
        SCOPED_TRACE(name);
        outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), name), false, "");
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.code, beCannotReadFile);
    }
    outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), P("box/dest/sub/ok.txt")), false, "");
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Get("box/dest/sub/ok.txt"), "x");
    // Names are stored with backslashes; one that begins with a backslash is absolute here too.
    outcome = Restore(WithBlocks(ArchiveBytes().Stored("y").bytes(), Stored(P("box/dest/sub/ok.txt"))), false, "");
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Get("box/dest/sub/ok.txt"), "y");
}

TEST_F(HostileArchive, EveryTruncationOfAValidArchiveEndsCleanly) {
    Put("src/a.txt", Compressible(3000));
    Put("src/b.bin", RandomBytes(300, 5));
    TBackupFile packer;
    packer.SaveFileID = true;
    ASSERT_TRUE(packer.Backup({P("src/*")}, P("whole.bck")));
    const std::string whole = Get("whole.bck");
    fs::remove(Path("whole.bck"));
    // Read from memory: a file per cut would only measure the disk.
    const auto restoreCut = [&](int threads, std::size_t size) {
        TBackupFile backup;
        backup.WorkerThreads = threads;
        backup.OnError = [](TBackupFile*, int, const std::string&) {};
        std::istringstream in(whole.substr(0, size));
        backup.InStream = &in;
        Outcome outcome;
        // Cut inside a member being written: error 1; anywhere else: an exception.
        try {
            outcome.result = backup.Restore(":STREAM", P("box/dest"));
            outcome.code = backup.ErrorCode();
            EXPECT_EQ(outcome.code, beCannotReadFile);
        } catch (const archive::ArchiveError& e) {
            outcome.exception = e.what();
        }
        outcome.detail = backup.ErrorDetail();
        EXPECT_FALSE(outcome.result);
        return outcome;
    };
    for (std::size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        EXPECT_EQ(restoreCut(3, size), restoreCut(1, size));
    }
    EXPECT_EQ(Outside(), std::vector<std::string>{});
    EXPECT_TRUE(Restore(whole).result);
}

TEST(RestoreTarget, PlacesMembersBelowTheDestination) {
    using archive::RestoreTargetPath;
    EXPECT_EQ(RestoreTargetPath("c:\\data\\co\\default.mdb", "/d", false), "/d/default.mdb");
    EXPECT_EQ(RestoreTargetPath("/home/u/default.mdb", "/d/", false), "/d/default.mdb");
    EXPECT_EQ(RestoreTargetPath("c:\\data\\co\\default.mdb", "/d", true), "/d/data/co/default.mdb");
    EXPECT_EQ(RestoreTargetPath("/home//u/./x", "/d", true), "/d/home/u/x");
    EXPECT_EQ(RestoreTargetPath("\\\\server\\share\\x", "/d", true), "/d/server/share/x");
    EXPECT_EQ(RestoreTargetPath("/home/u/x", "", false), "/home/u/x");
    EXPECT_EQ(RestoreTargetPath("/home/u/x", "", true), "/home/u/x");
    EXPECT_THROW(RestoreTargetPath("c:", "/d", true), archive::ArchiveError);
    EXPECT_THROW(RestoreTargetPath("a/../../x", "/d", true), archive::ArchiveError);
}

}  // namespace
}  // namespace tidewell::test
