#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

namespace tidewell {

// What a file holds, told by its first bytes alone. A company database is an SQLite or a Jet 4
// file; the other kinds are named so that a refusal can say what was found instead.
enum class DatabaseFormat {
    Sqlite,
    Jet4,
    Jet3,
    Ace,         // the successor of Jet ("Standard ACE DB"), any version
    JetUnknown,  // "Standard Jet DB" with a version byte this program does not know
    Empty,       // no bytes at all
    Other,       // anything else: another program's file, damage, random bytes
};

// The first bytes of a file that tell its format: enough for every kind above.
inline constexpr std::size_t kDatabaseHeaderSize = 32;

DatabaseFormat DetectDatabaseFormat(std::span<const unsigned char> header);
// Reads the file's first bytes. Raises Exception naming the file when it can't be read.
DatabaseFormat DetectDatabaseFormat(const std::filesystem::path& file);

// Whether a company may keep its data in a file of this format here.
bool IsCompanyDatabaseFormat(DatabaseFormat format);

// The format as a user reads it, e.g. "Jet 3 데이터베이스(옛 형식)".
std::string DatabaseFormatName(DatabaseFormat format);

// Why a file of this format is not a company database, naming what was found. Like the program's
// other file errors it is followed by ": " and the name the user knows the file by (an archive
// member, a company folder's database).
std::string NotCompanyDatabaseReason(DatabaseFormat format);

}  // namespace tidewell
