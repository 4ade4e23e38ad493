#include "platform/DatabaseFormat.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/Error.h"
#include "platform/FileHandle.h"

namespace tidewell {
namespace {

bool StartsWith(std::span<const unsigned char> bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin() + at,
                      [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

// A Jet or ACE file begins with its definition page: 00 01 00 00, the engine's name with its
// terminating zero, and at 0x14 the version (0 Jet 3, 1 Jet 4, 2 and up the successors).
constexpr std::string_view kJetMagic("\x00\x01\x00\x00", 4);
constexpr std::string_view kJetName("Standard Jet DB\0", 16);
constexpr std::string_view kAceName("Standard ACE DB\0", 16);
constexpr std::size_t kEngineNameAt = 4;
constexpr std::size_t kVersionAt = 0x14;
constexpr std::string_view kSqliteMagic("SQLite format 3\0", 16);

}  // namespace

DatabaseFormat DetectDatabaseFormat(std::span<const unsigned char> header) {
    if (header.empty()) return DatabaseFormat::Empty;
    if (StartsWith(header, 0, kSqliteMagic)) return DatabaseFormat::Sqlite;
    if (!StartsWith(header, 0, kJetMagic) || header.size() < kVersionAt + 4) {
        return DatabaseFormat::Other;
    }
    if (StartsWith(header, kEngineNameAt, kAceName)) return DatabaseFormat::Ace;
    if (!StartsWith(header, kEngineNameAt, kJetName)) return DatabaseFormat::Other;
    const std::uint32_t version = header[kVersionAt] | header[kVersionAt + 1] << 8 |
                                  header[kVersionAt + 2] << 16 |
                                  static_cast<std::uint32_t>(header[kVersionAt + 3]) << 24;
    switch (version) {
        case 0:
            return DatabaseFormat::Jet3;
        case 1:
            return DatabaseFormat::Jet4;
        default:
            return DatabaseFormat::JetUnknown;
    }
}

DatabaseFormat DetectDatabaseFormat(const std::filesystem::path& file) {
    const FileHandle handle(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!handle) {
        throw Exception("파일을 열 수 없습니다 (" + std::string(strerror(errno)) +
                        "): " + file.string());
    }
    std::array<unsigned char, kDatabaseHeaderSize> header{};
    std::size_t got = 0;
    while (got < header.size()) {
        const ssize_t n = ::read(handle.get(), header.data() + got, header.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            throw Exception("파일을 읽을 수 없습니다 (" + std::string(strerror(errno)) +
                            "): " + file.string());
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return DetectDatabaseFormat(std::span<const unsigned char>(header.data(), got));
}

bool IsCompanyDatabaseFormat(DatabaseFormat format) {
    return format == DatabaseFormat::Sqlite || format == DatabaseFormat::Jet4;
}

std::string DatabaseFormatName(DatabaseFormat format) {
    switch (format) {
        case DatabaseFormat::Sqlite:
            return "SQLite 데이터베이스";
        case DatabaseFormat::Jet4:
            return "Jet 4 데이터베이스";
        case DatabaseFormat::Jet3:
            return "Jet 3 데이터베이스(옛 형식)";
        case DatabaseFormat::Ace:
            return "ACE 데이터베이스(.accdb 형식)";
        case DatabaseFormat::JetUnknown:
            return "알 수 없는 판의 Jet 데이터베이스";
        case DatabaseFormat::Empty:
            return "빈 파일";
        case DatabaseFormat::Other:
            break;
    }
    return "데이터베이스가 아닌 파일";
}

std::string NotCompanyDatabaseReason(DatabaseFormat format) {
    return "사업장 데이터베이스는 SQLite나 Jet 4 형식이어야 하는데, 이 파일은 " +
           DatabaseFormatName(format) + "입니다";
}

}  // namespace tidewell
