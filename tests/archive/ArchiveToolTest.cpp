// tidewell-archive, driven through its command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/FileSearch.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ArchiveTool : public ArchiveFixture {
protected:
    // Arguments are quoted for the shell; the tests use none with a single quote.
    ToolRun Tool(const std::vector<std::string>& args) {
        std::string command = std::string("'") + TIDEWELL_ARCHIVE_TOOL + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >'" + P("stdout") + "' 2>'" + P("stderr") + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Get("stdout"), Get("stderr")};
    }
};

TEST_F(ArchiveTool, PacksListsAndRestores) {
    const std::string random = RandomBytes(40000, 9), text = Compressible(30000);
    Put("src/Big.bin", random);
    Put("src/sub/notes.txt", text);
    ToolRun run = Tool({"pack", "--level", "max", "--title", "제목", "--file-list", P("out.bck"), P("src")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    run = Tool({"list", P("out.bck")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string folder = archive::LowerAscii(P("src"));
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_TRUE(line.starts_with("FILE:LIST\t")) << line;
    std::getline(lines, line);
    EXPECT_TRUE(line.starts_with(Stored(folder + "/sub/notes.txt\t2006-03-05 14:07:08\t30000\t"))) << line;
    std::getline(lines, line);
    // Two stored blocks, then a short one as a zlib stream that is longer than its input.
    EXPECT_EQ(line, Stored(folder + "/big.bin") + "\t2006-03-05 14:07:08\t40000\t40011");
    EXPECT_FALSE(std::getline(lines, line));

    run = Tool({"restore", P("out.bck"), P("dest")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameBytes(Get("dest/big.bin"), random));
    EXPECT_TRUE(SameBytes(Get("dest/notes.txt"), text));
    EXPECT_EQ(DateOf("dest/big.bin"), kDate);

    Put("dest/notes.txt", "mine", kDate + 2);
    ASSERT_EQ(Tool({"restore", "--mode", "newer", "--full-path", P("out.bck"), P("dest")}).status, 0);
    EXPECT_EQ(Get("dest/notes.txt"), "mine");
    EXPECT_TRUE(SameBytes(Get("dest" + folder + "/sub/notes.txt"), text));
}

TEST_F(ArchiveTool, FollowsDiskFilesAndNamesAMissingOne) {
    const std::string random = RandomBytes(100000, 10);
    Put("big.bin", random);
    ASSERT_EQ(Tool({"pack", "--max-size", "40000", P("x.bck"), P("big.bin")}).status, 0);
    ASSERT_TRUE(fs::exists(Path("x.003")));
    ToolRun run = Tool({"list", P("x.bck")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.find("\t100000\t100011\n") != std::string::npos) << run.out;
    ASSERT_EQ(Tool({"restore", P("x.bck"), P("dest")}).status, 0);
    EXPECT_TRUE(SameBytes(Get("dest/big.bin"), random));

    fs::remove(Path("x.003"));
    run = Tool({"restore", P("x.bck"), P("dest2")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(P("x.003") + ", which is missing"), std::string::npos) << run.err;
    run = Tool({"list", P("x.bck")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("which is missing"), std::string::npos) << run.err;
}

TEST_F(ArchiveTool, RestoreNeverWritesThroughAPlantedLink) {
    Put("src/f.txt", "archived");
    ASSERT_EQ(Tool({"pack", P("out.bck"), P("src/f.txt")}).status, 0);
    Put("outside.txt", "keep");
    fs::create_directories(Path("dest"));
    fs::create_symlink(Path("outside.txt"), Path("dest/f.txt"));
    const ToolRun run = Tool({"restore", P("out.bck"), P("dest")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot read file"), std::string::npos) << run.err;
    EXPECT_EQ(Get("outside.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(Path("dest/f.txt")));
}

TEST_F(ArchiveTool, UsageErrorsAndFailuresHaveTheirOwnStatus) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"unpack", "a"}, {"pack", "--level", "fast", "a", "b"}, {"pack", "--max-size", "100", "a", "b"},
             {"pack", "a.bck"}, {"restore", "--mode", "sometimes", "a"}, {"restore", "a", "b", "c"}}) {
        const ToolRun run = Tool(args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
    }
    ToolRun run = Tool({"restore", P("missing.bck"), P("dest")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("archive not found"), std::string::npos) << run.err;

    Put("bad.bck", ArchiveBytes().Header("", 9, 1).Member("f.txt", 0).Signature().Int32(40000).bytes());
    run = Tool({"restore", P("bad.bck"), P("dest")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot read file: Damaged archive"), std::string::npos) << run.err;
    run = Tool({"list", P("bad.bck")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("a block length of 40000"), std::string::npos) << run.err;
    EXPECT_EQ(Tool({"pack", P("no/such/folder/x.bck"), P("bad.bck")}).status, 1);
}

}  // namespace
}  // namespace tidewell::test
