#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "platform/ByteSource.h"
#include "platform/DateTime.h"
#include "platform/DosTime.h"
#include "platform/Error.h"

namespace tidewell::test {

inline DosDateTime DosTime(int year, int month, int day, int hour, int minute, int second) {
    return *PackDosDateTime(EncodeDateTime({year, month, day, hour, minute, second, 0}));
}

// A private folder with the recording user interface and counting pump installed.
class ArchiveFixture : public ::testing::Test {
protected:
    const DosDateTime kDate = DosTime(2006, 3, 5, 14, 7, 8);

    std::filesystem::path Path(const std::string& relative) const { return core.dir / relative; }
    std::string P(const std::string& relative) const { return Path(relative).string(); }

    // Writes a file, with its folders, and gives it an MS-DOS time.
    std::filesystem::path Put(const std::string& relative, const std::string& bytes) {
        return Put(relative, bytes, kDate);
    }
    std::filesystem::path Put(const std::string& relative, const std::string& bytes,
                              DosDateTime date) {
        const auto path = Path(relative);
        std::filesystem::create_directories(path.parent_path());
        WriteFile(path, bytes);
        EXPECT_TRUE(WriteFileDosDateTime(path, date));
        return path;
    }
    std::string Get(const std::string& relative) const { return ReadFile(Path(relative)); }
    DosDateTime DateOf(const std::string& relative) const {
        return ReadFileDosDateTime(Path(relative)).value_or(-1);
    }

    CoreFixture core;
};

// A path as an archive stores it: "\\" between its parts.
inline std::string Stored(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Binary content compared without printing megabytes when it differs.
inline testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected; they differ from byte " << at;
}

// Text that compresses well, different on every line.
inline std::string Compressible(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "row " + std::to_string(line) + ": quantity " + std::to_string(line % 97) + "\n";
    }
    text.resize(size);
    return text;
}

// The bytes of a member without a file, handed out as the packer asks; fails at failAt when
// that is within them.
class StringSource : public ByteSource {
public:
    explicit StringSource(std::string bytes, std::size_t failAt = std::string::npos)
        : bytes_(std::move(bytes)), failAt_(failAt) {}
    std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        if (given_ >= failAt_) throw Exception("the source broke off");
        count = std::min(count, bytes_.size() - given_);
        std::memcpy(buffer, bytes_.data() + given_, count);
        given_ += count;
        return count;
    }

private:
    std::string bytes_;
    std::size_t failAt_;
    std::size_t given_ = 0;
};

}  // namespace tidewell::test
