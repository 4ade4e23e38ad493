#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tidewell::test {

// Jet 4 files for the tests, written from the Jet format notes that mdbtools publishes
// (HACKING.md of libmdb3), never by the program itself. The definition page (page 0, with its
// obfuscated region) is taken from a real Jet 4 file: the reference that script/jet-reference
// fetches from Debian's mrtg-contrib.

// The reference file, and its definition page.
std::filesystem::path JetReferenceFile();
std::string JetDefinitionPage();

enum class JetColumnType : std::uint8_t {
    LongInteger = 0x04,  // 32 bits, a fixed column
    Text = 0x0A,         // UCS-2, a variable column
};

struct JetColumn {
    std::string name;
    JetColumnType type = JetColumnType::Text;
    int maxChars = 255;  // text only
};

// A user table; a value is UTF-8 text (a number in decimal for a long integer), nullopt a null.
struct JetTable {
    std::string name;
    std::vector<JetColumn> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;
};

// A Jet 4 database of these tables (one page of rows each) behind a catalogue that lists them.
std::string MakeJetDatabase(const std::vector<JetTable>& tables);

// A company database as the host product leaves it: ver (verno, dbkey) and userinfo
// (legalname, owner), one row each; a null key or name when not given.
std::string MakeJetCompany(const std::optional<std::string>& key,
                           const std::optional<std::string>& name);

// The definition page of the reference with another engine name or version: what a Jet 3 file
// (version 0) or an ACE file ("Standard ACE DB", version 2) begins with, padded to pages.
std::string MakeJetHeaderVariant(bool ace, std::uint32_t version);

// Runs one of mdbtools' programs (mdb-ver, mdb-export, mdb-sql ...): the independent reader
// every fixture is checked with. Its standard output; raises Exception when it fails.
std::string RunMdbTool(const std::vector<std::string>& arguments, const std::string& input = "");

// The first value that mdb-sql gives for statement, its surrounding white space removed.
std::string MdbSqlValue(const std::filesystem::path& file, const std::string& statement);

}  // namespace tidewell::test
