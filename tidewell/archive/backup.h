#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/FileStream.h"
#include "platform/ByteSource.h"

namespace tidewell {

enum TBackupMode { bmAll, bmIncremental };
enum TCompressionLevel { clFastest, clNone, clDefault, clMax };
enum TRestoreMode { rmAll, rmNoOverwrite, rmNewer, rmExisting, rmExistingNewer };
using TPercentage = std::uint8_t;

// The error codes reported through OnError (or the error dialog), with their fixed texts.
enum TBackupError {
    beNone = 0,
    beCannotReadFile = 1,
    beOverwritingFailed = 2,
    beCannotReadArchive = 3,
    beCannotWriteArchive = 4,
    beInvalidArchiveType = 5,
    beCompressionError = 6,
    beCannotSaveFileIds = 7,
};
// "Cannot read file" for 1 and so on; empty for a code outside the table.
std::string BackupErrorMessage(int code);

class TBackupFile;

// The bytes of a member that has no file of its own to be read from; Read runs on the thread
// that packs.
using TMemberSource = ByteSource;

// A member packed from a source: stored under Name as a listed file of that path would be.
struct TSourceMember {
    std::string Name;
    std::int32_t Date = -1;           // its time as an MS-DOS date and time; -1: none
    TMemberSource* Source = nullptr;  // not owned
};

using TProgressEvent = std::function<void(TBackupFile* Sender, const std::string& Filename,
                                          TPercentage Percent, bool& Continue)>;
using TNeedDiskEvent =
    std::function<void(TBackupFile* Sender, std::uint16_t DiskID, bool& Continue)>;
using TRestoreFileEvent = std::function<void(TBackupFile* Sender, std::string& Filename,
                                             std::int32_t FA, bool& DoRestore)>;
using TFileRestoredEvent =
    std::function<void(TBackupFile* Sender, std::string& Filename, TFileStream& Stream)>;
using TBackupErrorEvent =
    std::function<void(TBackupFile* Sender, int Error, const std::string& ErrString)>;

// Packs files into a .bck archive (one file, or several disk files with MaxSize) and restores
// them. Text is UTF-8 here and CP949 inside the archive. Blocks are compressed and inflated on
// worker threads (WorkerThreads); everything else runs on the calling thread, which hands control
// to the message pump after every block.
//
// Differences from the archive's home platform: stored names are lower-cased full paths written
// with "\" between their parts, but files are opened by their real path; " /s" only counts as a
// word of its own at the end of an entry; the archive attribute is an extended attribute
// (archive/ArchiveAttribute.h); stream mode never spans disk files. Restoring takes "\" and "/"
// as separators, never writes outside the destination (archive/RestoreTarget.h) and never
// follows a symbolic link that stands where a member is written.
class TBackupFile {
public:
    TBackupFile() = default;
    TBackupFile(const TBackupFile&) = delete;
    TBackupFile& operator=(const TBackupFile&) = delete;

    std::string BackupTitle;
    TCompressionLevel CompressionLevel = clFastest;
    TRestoreMode RestoreMode = rmAll;
    std::int32_t MaxSize = 0;  // largest disk file in bytes; 0 (or less): one file
    bool SetArchiveFlag = false;
    bool RestoreFullPath = false;
    bool SaveFileID = false;
    // Threads that compress or inflate blocks: 0 for as many as the machine has cores (at most
    // 8), 1 to do everything on the calling thread. Events, messages and writes stay on the
    // calling thread in either case, in the order and with the values of one thread.
    int WorkerThreads = 0;
    // Where the file list waits while SaveFileID packs it; empty: /tmp.
    std::string TempFolder;
    TProgressEvent OnProgress;
    TNeedDiskEvent OnNeedDisk;
    TRestoreFileEvent OnRestoreFile;
    TFileRestoredEvent OnFileRestored;
    TBackupErrorEvent OnError;
    std::istream* InStream = nullptr;  // stream mode (":STREAM"), owned by the caller
    std::ostream* OutStream = nullptr;

    std::string Version() const { return "5.10"; }
    TBackupMode BackupMode() const { return backupMode_; }
    void SetBackupMode(TBackupMode mode);  // bmIncremental also sets SetArchiveFlag

    // True when the archive was completed; False when it was cancelled or failed (the error is
    // reported through OnError or the error dialog).
    bool Backup(const std::vector<std::string>& Files, const std::string& ArchiveName);
    // The same with Sources packed first, in their order, and then the files of Files; a file
    // listed under a source's name is packed once, as the source.
    bool Backup(const std::vector<TSourceMember>& Sources, const std::vector<std::string>& Files,
                const std::string& ArchiveName);
    // True when the archive was read to its end without error or cancel; False at once when the
    // archive file does not exist. An unreadable header, a damaged record outside a member being
    // written, or a missing end marker raise archive::ArchiveError.
    bool Restore(const std::string& ArchiveName, const std::string& DestFolder);

    const std::string& CurrentFile() const { return currentFile_; }
    int ErrorCode() const { return errorCode_; }
    // What lies behind the last error or exception of an operation (the file, the byte, the
    // system's reason), for logs and the command line; empty after a clean run.
    const std::string& ErrorDetail() const { return errorDetail_; }
    std::int32_t TotalSize() const { return static_cast<std::int32_t>(totalSize_); }
    std::int32_t DoneSize() const { return static_cast<std::int32_t>(doneSize_); }
    std::int32_t FileCount() const { return fileCount_; }

private:
    struct PackState;
    struct PackMember;
    struct UnpackState;

    void Pack(PackState& pack, const PackMember& member);
    void WriteBlocks(PackState& pack, std::int64_t& remaining);
    void StartNextDisk(PackState& pack);

    void RestoreMember(UnpackState& unpack, const std::string& name);
    void ReadBlocks(UnpackState& unpack, TFileStream* target);
    void ContinueOnNextDisk(UnpackState& unpack, const std::string& record);
    void FinishTarget(TFileStream& target, std::int32_t date);
    bool DecideByMode(const std::string& target, std::int32_t date) const;

    void Fail(int code, const std::string& detail);
    void RaiseProgress(const std::string& fileName, TPercentage percent);
    void AskForDisk(unsigned disk);
    void ReportError();

    TBackupMode backupMode_ = bmAll;
    bool continue_ = true;
    std::string currentFile_;
    int errorCode_ = 0;
    std::string errorDetail_;
    std::int64_t totalSize_ = 0;
    std::int64_t doneSize_ = 0;
    std::int32_t fileCount_ = 0;
};

}  // namespace tidewell
