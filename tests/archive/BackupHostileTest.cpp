// Downloaded archives are untrusted: damage ends in a clear error and nothing lands outside the
// destination.
#include <gtest/gtest.h>

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
};

class HostileArchive : public ArchiveFixture {
protected:
    Outcome Restore(const std::string& bytes, bool fullPath = false, const std::string& dest = "box/dest") {
        fs::remove_all(Path("box"));
        Put("box/arch.bck", bytes);
        TBackupFile backup;
        backup.RestoreFullPath = fullPath;
        backup.OnError = [](TBackupFile*, int, const std::string&) {};
        Outcome outcome;
        try {
            outcome.result = backup.Restore(P("box/arch.bck"), dest.empty() ? "" : P(dest));
            outcome.code = backup.ErrorCode();
        } catch (const archive::ArchiveError& e) {
            outcome.exception = e.what();
        }
        EXPECT_EQ(Outside(), std::vector<std::string>{});
        return outcome;
    }

    // What exists in the test folder besides the archive, the destination and the fixture's own.
    std::vector<std::string> Outside() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(core.dir.path())) {
            const std::string path = fs::relative(entry.path(), core.dir.path()).string();
            if (path == "box" || path == "box/arch.bck" || path.starts_with("box/dest") ||
                path.starts_with("src") || path.starts_with("tmp") || path.starts_with("config")) {
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

TEST_F(HostileArchive, NamesNeverLeaveTheDestination) {
    // Without the full path only the file part counts, so climbing folders are dropped.
    Outcome outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), "..\\..\\evil.txt"));
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Get("box/dest/evil.txt"), "x");

    for (const char* name : {"..\\..\\evil.txt", "c:\\data\\..\\..\\evil.txt", "/../evil.txt", "c:\\dir\\..",
                             "c:\\dir\\"}) {
        SCOPED_TRACE(name);
        outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), name), true);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.code, beCannotReadFile);
    }

    // Without a destination the stored path is used, but only an absolute path of this system.
    for (const std::string& name : {std::string("c:\\evil.txt"), std::string("relative/evil.txt"),
                                   P("box/dest/../evil.txt")}) {
        SCOPED_TRACE(name);
        outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), name), false, "");
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.code, beCannotReadFile);
    }
    outcome = Restore(WithBlocks(ArchiveBytes().Stored("x").bytes(), P("box/dest/sub/ok.txt")), false, "");
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(Get("box/dest/sub/ok.txt"), "x");
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
    TBackupFile backup;
    backup.OnError = [](TBackupFile*, int, const std::string&) {};
    for (std::size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        std::istringstream in(whole.substr(0, size));
        backup.InStream = &in;
        // Cut inside a member being written: error 1; anywhere else: an exception.
        try {
            EXPECT_FALSE(backup.Restore(":STREAM", P("box/dest")));
            EXPECT_EQ(backup.ErrorCode(), beCannotReadFile);
        } catch (const archive::ArchiveError&) {
        }
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
