#include "platform/JetDatabase.h"

#include <gtest/gtest.h>

#include <chrono>

#include "JetFixture.h"
#include "TestSupport.h"

namespace tidewell {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// Small limits, so that a damaged file is given up on quickly.
const JetReaderLimits kTight{5000ms, 2, 256};

std::filesystem::path Write(const TempDir& dir, const std::string& name, const std::string& bytes) {
    const auto file = dir / name;
    test::WriteFile(file, bytes);
    return file;
}

JetProblem ProblemOf(const std::filesystem::path& file, const JetReaderLimits& limits = kTight,
                     const StopQuery& stop = {}) {
    try {
        CheckJetDatabase(file, stop, limits);
    } catch (const JetDatabaseError& error) {
        EXPECT_EQ(std::string(error.what()), error.reason() + ": " + file.string());
        return error.problem();
    }
    ADD_FAILURE() << "the check passed " << file;
    return JetProblem::FileAccess;
}

// The writer's files are read first by mdbtools' own programs, then by ours: key and name come
// back as written, Hangul included; a null reads as empty text, as the callers' default.
TEST(JetDatabaseTest, ReadsKeyAndNameOfCompaniesMdbtoolsReadsAlike) {
    TempDir dir;
    struct Case {
        std::optional<std::string> key, name;
    };
    for (const Case& c : {Case{"0123456789abcdef0123456789abcdef", "(주)물결 상사"},
                          Case{std::nullopt, "Tidewell Trading"},
                          Case{"fedcba9876543210fedcba9876543210", std::nullopt}}) {
        const auto file = Write(dir, "default.mdb", test::MakeJetCompany(c.key, c.name));
        SCOPED_TRACE(c.name.value_or("(null)"));
        EXPECT_EQ(test::RunMdbTool({"mdb-tables", "-1", file.string()}), "ver\nuserinfo\n");
        ASSERT_EQ(test::MdbSqlValue(file, "select dbkey from [ver]"), c.key.value_or(""));
        ASSERT_EQ(test::MdbSqlValue(file, "select legalname from userinfo"), c.name.value_or(""));

        EXPECT_EQ(ReadJetCompanyKey(file), c.key.value_or(""));
        EXPECT_EQ(ReadJetCompanyName(file), c.name.value_or(""));
        EXPECT_NO_THROW(CheckJetDatabase(file, {}, kTight));
    }
}

// A real engine's file: read like mdb-export reads it, but it is no company (no ver table).
TEST(JetDatabaseTest, ReferenceFileReadsButIsNoCompany) {
    const auto reference = test::JetReferenceFile();
    const std::string exported =
        test::RunMdbTool({"mdb-export", "-H", "-Q", reference.string(), "Monitor_Authenticate"});
    const std::string password = exported.substr(exported.find(',') + 1, 8);
    EXPECT_EQ(ReadJetFirstValue(reference, "MONITOR_AUTHENTICATE", "linepassword"), password);
    EXPECT_EQ(ReadJetFirstValue(reference, "Monitor_Authenticate", "NoSuchColumn"), std::nullopt);
    EXPECT_EQ(ReadJetCompanyKey(reference), std::nullopt);
    EXPECT_EQ(ProblemOf(reference), JetProblem::NotCompany);
}

// Damaged and hostile files are refused, and none of them harms this process: the ones that make
// libmdb spin or swallow memory cost a limit of the reader, nothing more.
TEST(JetDatabaseTest, CheckRefusesDamagedFilesWithinItsLimits) {
    TempDir dir;
    const std::string company = test::MakeJetCompany("0123456789abcdef0123456789abcdef", "물결");
    const std::string reference = test::ReadFile(test::JetReferenceFile());
    auto overPage = [&](std::size_t page, const std::string& bytes) {
        std::string damaged = company;
        damaged.replace(page * 4096, 4096, bytes);
        return damaged;
    };
    std::string flipped = company;
    flipped[4 * 4096 + 16] ^= 0x04;  // the row count of ver's definition
    struct Case {
        const char* what;
        std::string bytes;
        JetProblem problem;
    };
    const std::vector<Case> cases = {
        {"truncated to its header", company.substr(0, 4096), JetProblem::Damaged},
        {"truncated in its catalogue", company.substr(0, 3 * 4096 + 100), JetProblem::Damaged},
        {"catalogue definition overwritten", overPage(2, test::RandomBytes(4096, 1)),
         JetProblem::Damaged},
        {"ver definition overwritten", overPage(4, test::RandomBytes(4096, 2)),
         JetProblem::Damaged},
        {"ver rows overwritten", overPage(5, test::RandomBytes(4096, 3)), JetProblem::Damaged},
        {"ver row count flipped", flipped, JetProblem::Damaged},
        {"random pages behind a Jet 4 header",
         company.substr(0, 4096) + test::RandomBytes(8 * 4096, 4), JetProblem::Damaged},
        // Cuts of the reference where libmdb 1.0 loops on a damaged property list (CPU) and
        // where it allocates without end (memory).
        {"reference cut where libmdb spins", reference.substr(0, 109316), JetProblem::Damaged},
        {"reference cut where libmdb swallows memory", reference.substr(0, 108676),
         JetProblem::Damaged},
        {"jet 3", test::MakeJetHeaderVariant(false, 0), JetProblem::NotJet4},
        {"accdb", test::MakeJetHeaderVariant(true, 2), JetProblem::NotJet4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(ProblemOf(Write(dir, "default.mdb", c.bytes)), c.problem);
        EXPECT_LT(std::chrono::steady_clock::now() - started, kTight.timeout);
    }
}

// A reader that hangs without using CPU or memory is killed at the wall-clock deadline, and at
// once on a stop request; one that writes without end is not listened to for long.
TEST(JetDatabaseTest, ReaderIsKilledAtTheDeadlineOnStopAndWhenItFloods) {
    TempDir dir;
    const auto file = Write(dir, "default.mdb", test::MakeJetCompany("k", "n"));
    const auto reader = Write(dir, "reader", "#!/bin/sh\nexec /bin/sleep 60\n");
    std::filesystem::permissions(reader, std::filesystem::perms::owner_all);
    test::ScopedEnvironment chosen("TIDEWELL_JET_READER", reader.string());
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ProblemOf(file, {300ms, 30, 1024}), JetProblem::Damaged);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

    started = std::chrono::steady_clock::now();
    const auto after200ms = [&] { return std::chrono::steady_clock::now() - started > 200ms; };
    EXPECT_THROW(CheckJetDatabase(file, after200ms, {30s, 30, 1024}), OperationStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

    test::WriteFile(reader, "#!/bin/sh\nexec /usr/bin/yes 0123456789abcdef\n");
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadJetFirstValue(file, "ver", "dbkey", {30s, 30, 1024}), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(JetDatabaseTest, MissingReaderIsNamedAndReadsGiveTheirDefault) {
    TempDir dir;
    const auto file = Write(dir, "default.mdb", test::MakeJetCompany("k", "n"));
    test::ScopedEnvironment reader("TIDEWELL_JET_READER", (dir / "no-reader").string());
    try {
        CheckJetDatabase(file);
        ADD_FAILURE() << "checked without a reader";
    } catch (const JetDatabaseError& error) {
        EXPECT_EQ(error.problem(), JetProblem::ReaderMissing);
        EXPECT_NE(std::string(error.what()).find("tidewell-jet-reader"), std::string::npos);
    }
    EXPECT_EQ(ReadJetCompanyKey(file), std::nullopt);
}

}  // namespace
}  // namespace tidewell
