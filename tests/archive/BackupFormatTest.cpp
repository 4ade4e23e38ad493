// The bytes on disk: archives built by hand restore, and archives written here are taken apart.
#include <gtest/gtest.h>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/FileSearch.h"
#include "archive/backup.h"
#include "platform/CodePage.h"

namespace tidewell::test {
namespace {

using archive::LowerAscii;

class BackupFormat : public ArchiveFixture {};

TEST_F(BackupFormat, HandBuiltArchiveRestoresWithEitherSeparator) {
    const std::string tail = std::string(3000, 'a') + "tail";
    const DosDateTime notesDate = DosTime(2019, 12, 31, 23, 59, 58);
    ArchiveBytes bytes;
    bytes.Header(Utf8ToAnsi("2006-03-05 14:07에 만든 백업파일"), 5 + 3004, 2)
        .Member(Utf8ToAnsi("c:\\data\\회사\\default.mdb"), kDate)
        .Signature().Stored("hello").Compressed(tail).Terminator()
        .Member("/home/someone/notes.txt", notesDate)
        .Signature().Terminator()
        .EndMarker();
    Put("in.bck", bytes.bytes());

    TBackupFile backup;
    ASSERT_TRUE(backup.Restore(P("in.bck"), P("flat")));
    EXPECT_EQ(Get("flat/default.mdb"), "hello" + tail);
    EXPECT_EQ(DateOf("flat/default.mdb"), kDate);
    EXPECT_EQ(Get("flat/notes.txt"), "");
    EXPECT_EQ(DateOf("flat/notes.txt"), notesDate);
    EXPECT_EQ(backup.TotalSize(), 3009);
    EXPECT_EQ(backup.FileCount(), 2);

    backup.RestoreFullPath = true;
    ASSERT_TRUE(backup.Restore(P("in.bck"), P("full")));
    EXPECT_EQ(Get("full/data/회사/default.mdb"), "hello" + tail);
    EXPECT_EQ(Get("full/home/someone/notes.txt"), "");
}

TEST_F(BackupFormat, BackupWritesEveryFieldAsDescribed) {
    const std::string data = Compressible(20000);
    const DosDateTime emptyDate = DosTime(1999, 1, 2, 3, 4, 6);
    Put("Data한글/Big.BIN", data);
    Put("Data한글/empty", "", emptyDate);

    TBackupFile backup;
    backup.BackupTitle = "제목";
    backup.CompressionLevel = clDefault;
    ASSERT_TRUE(backup.Backup({P("Data한글/*")}, P("out.bck")));

    const std::string folder = LowerAscii(P("Data한글"));
    ArchiveWalk walk(Get("out.bck"));
    EXPECT_EQ(walk.Text(), Utf8ToAnsi("제목"));
    EXPECT_EQ(walk.Int32(), 20000);
    EXPECT_EQ(walk.Int32(), 2);

    EXPECT_EQ(walk.Text(), Utf8ToAnsi(Stored(folder + "/big.bin")));
    EXPECT_EQ(walk.Int32(), kDate);
    EXPECT_EQ(walk.Raw(4), std::string("EC2\0", 4));
    EXPECT_TRUE(IsBlockOf(walk.Text(), data.substr(0, 16384), -1));
    EXPECT_TRUE(IsBlockOf(walk.Text(), data.substr(16384), -1));
    EXPECT_EQ(walk.Int32(), 0);

    EXPECT_EQ(walk.Text(), Utf8ToAnsi(Stored(folder + "/empty")));
    EXPECT_EQ(walk.Int32(), emptyDate);
    EXPECT_EQ(walk.Raw(4), std::string("EC2\0", 4));
    EXPECT_EQ(walk.Int32(), 0);

    EXPECT_EQ(walk.Int32(), 0);
    EXPECT_TRUE(walk.AtEnd());
}

// Blocks may come from another deflate and from any thread, but the format's readers must read
// every one, and a build with zlib alone still writes the bytes of a fresh zlib stream per block.
TEST_F(BackupFormat, EveryBlockInflatesWithZlibToItsSourceAtEveryLevelAndThreadCount) {
    const std::string data = Compressible(32768) + RandomBytes(16384, 7) + std::string(10000, '\0') +
                             Compressible(5000);
    Put("mixed.bin", data);
    const std::pair<TCompressionLevel, int> levels[] = {
        {clFastest, 1}, {clNone, 0}, {clDefault, -1}, {clMax, 9}};
    for (const auto& [level, zlibLevel] : levels) {
        std::string oneThread;
        for (const int threads : {1, 2, 3, 8}) {
            SCOPED_TRACE(testing::Message() << "level " << zlibLevel << ", " << threads << " threads");
            TBackupFile backup;
            backup.CompressionLevel = level;
            backup.WorkerThreads = threads;
            ASSERT_TRUE(backup.Backup({P("mixed.bin")}, P("out.bck")));
            const std::string archive = Get("out.bck");
            if (threads == 1) oneThread = archive;
            EXPECT_TRUE(SameBytes(archive, oneThread));

            ArchiveWalk walk(archive);
            walk.Text();
            walk.Raw(12);  // total, count, name length
            walk.Raw(LowerAscii(P("mixed.bin")).size() + 4 + 4);
            std::vector<std::int32_t> lengths;
            for (std::size_t offset = 0; offset < data.size(); offset += 16384) {
                const std::string slice = data.substr(offset, 16384);
                const std::int32_t n = walk.Int32();
                lengths.push_back(n);
                if (n < 0) {
                    EXPECT_EQ(n, -static_cast<std::int32_t>(slice.size()));
                    EXPECT_EQ(walk.Raw(slice.size()), slice);
                    // Stored only when the zlib stream does not fit in a block.
                    EXPECT_TRUE(FreshZlibBlock(slice, zlibLevel).empty() || level != clDefault);
                } else {
                    EXPECT_LE(n, 16384);
                    EXPECT_TRUE(IsBlockOf(walk.Raw(static_cast<std::size_t>(n)), slice, zlibLevel));
                }
            }
            EXPECT_EQ(walk.Int32(), 0);
            if (level == clNone) {
                // Stored or not depends only on whether the zlib stream fits, not on its size.
                EXPECT_EQ(lengths.front(), -16384);
                EXPECT_GT(lengths.back(), static_cast<std::int32_t>(data.size() % 16384));
            }
            if (level == clDefault) {
                EXPECT_EQ(lengths[2], -16384);  // the random part
                EXPECT_GT(lengths[0], 0);
            }
        }
    }
}

TEST_F(BackupFormat, NoMatchGivesHeaderAndEndMarkerOnly) {
    TBackupFile backup;
    EXPECT_TRUE(backup.Backup({P("nothing*.txt")}, P("out.bck")));
    EXPECT_EQ(Get("out.bck"), ArchiveBytes().Header("", 0, 0).EndMarker().bytes());
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(BackupFormat, FileListMemberComesFirstAndIsNeverRestored) {
    Put("co/a.txt", "alpha");
    Put("co/b.txt", Compressible(30000), DosTime(2010, 6, 7, 8, 9, 10));
    TBackupFile backup;
    backup.SaveFileID = true;
    ASSERT_TRUE(backup.Backup({P("co/*.txt")}, P("out.bck")));

    const std::string folder = LowerAscii(P("co"));
    const std::string list = Utf8ToAnsi(Stored(folder)) + "\\a.txt\t" + std::to_string(kDate) + "=5\r\n" +
                             Utf8ToAnsi(Stored(folder)) + "\\b.txt\t" +
                             std::to_string(DosTime(2010, 6, 7, 8, 9, 10)) + "=30000\r\n";
    ArchiveWalk walk(Get("out.bck"));
    walk.Text();
    EXPECT_EQ(walk.Int32(), static_cast<std::int32_t>(30005 + list.size()));
    EXPECT_EQ(walk.Int32(), 2);
    EXPECT_EQ(walk.Text(), "FILE:LIST");
    walk.Int32();
    EXPECT_EQ(walk.BlockList(), list);
    EXPECT_EQ(walk.Text(), Utf8ToAnsi(Stored(folder + "/a.txt")));
    // The temporary file that held the list is gone.
    EXPECT_TRUE(std::filesystem::is_empty(core.dir / "tmp"));

    std::vector<std::string> asked;
    backup.OnRestoreFile = [&](TBackupFile*, std::string& name, std::int32_t, bool&) {
        asked.push_back(name);
    };
    ASSERT_TRUE(backup.Restore(P("out.bck"), P("dest")));
    EXPECT_EQ(asked, (std::vector<std::string>{P("dest/a.txt"), P("dest/b.txt")}));
    EXPECT_FALSE(std::filesystem::exists(Path("dest/FILE:LIST")));
    EXPECT_EQ(Get("dest/b.txt"), Compressible(30000));
}

}  // namespace
}  // namespace tidewell::test
