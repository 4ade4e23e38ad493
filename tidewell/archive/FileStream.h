#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/DosTime.h"
#include "platform/FileHandle.h"

namespace tidewell {

// A file opened by the archive component: a source being packed or a target being restored.
// OnFileRestored receives the target while it is still open. Failures raise Exception with the
// path and the system's reason.
class TFileStream {
public:
    enum class Mode {
        Read,    // existing file, shared with other readers and writers
        Create,  // new or emptied plain file; a symbolic link in its place is refused
        Append,  // existing plain file, positioned at its end; a symbolic link is refused
    };

    TFileStream(const std::filesystem::path& path, Mode mode);
    TFileStream(TFileStream&&) noexcept = default;
    TFileStream& operator=(TFileStream&&) noexcept = default;

    const std::filesystem::path& Path() const { return path_; }
    int Handle() const { return handle_.get(); }

    // Reads up to count bytes; fewer only at the end of the file.
    std::size_t Read(void* buffer, std::size_t count);
    void Write(const void* data, std::size_t count);
    std::int64_t Size() const;
    std::int64_t Position() const;
    void Seek(std::int64_t position);

    std::optional<DosDateTime> ModifiedTime() const;
    // False when the value names no real time or the system refuses.
    bool SetModifiedTime(DosDateTime value);

    void Close();

private:
    [[noreturn]] void Fail(const char* what) const;

    std::filesystem::path path_;
    FileHandle handle_;
};

}  // namespace tidewell
