#include "archive/backup.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

#include "archive/ArchiveAttribute.h"
#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIo.h"
#include "archive/BlockCodec.h"
#include "archive/BlockPipeline.h"
#include "archive/FileSearch.h"
#include "archive/RestoreTarget.h"
#include "archive/WriteBatch.h"
#include "platform/CodePage.h"
#include "platform/FileHandle.h"
#include "platform/FileKit.h"
#include "platform/MessagePump.h"
#include "platform/UserInterface.h"

namespace fs = std::filesystem;

namespace tidewell {

using namespace archive;

namespace {

constexpr const char* kDialogTitle = "Tidewell";

int ZlibLevel(TCompressionLevel level) {
    switch (level) {
        case clFastest:
            return 1;
        case clNone:
            return 0;
        case clDefault:
            return -1;
        case clMax:
            return 9;
    }
    return -1;
}

// Halves go to the even neighbour (the default rounding mode). Progress can overshoot when a file
// grows or a header lies, so the value is held to 0..100; with nothing to do, all is done.
TPercentage PercentOf(std::int64_t done, std::int64_t total) {
    if (total <= 0) return 100;
    const double percent =
        std::nearbyint(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    return static_cast<TPercentage>(std::clamp(percent, 0.0, 100.0));
}

DosDateTime DosTimeOf(std::time_t modified) {
    const auto local = LocalTimeToDateTime(modified);
    return local ? PackDosDateTime(*local).value_or(-1) : -1;
}

// The file-list text waits in a temporary file while it is packed; it goes when the pack ends.
class FileListFile {
public:
    FileListFile(const std::string& folder, const std::string& text) {
        TemporaryFile file = CreateTemporaryFile(folder.empty() ? "/tmp" : folder, "FID");
        path_ = file.path;
        WriteAll(file.handle.get(), text.data(), text.size(), path_.string());
    }
    FileListFile(const FileListFile&) = delete;
    FileListFile& operator=(const FileListFile&) = delete;
    ~FileListFile() {
        if (!path_.empty()) RemoveFileQuietly(path_);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A listed file as the source of its member.
class FileSource : public TMemberSource {
public:
    explicit FileSource(TFileStream& file) : file_(file) {}
    std::int64_t Size() override { return file_.Size(); }
    std::size_t Read(void* buffer, std::size_t count) override { return file_.Read(buffer, count); }

private:
    TFileStream& file_;
};

// The member being packed, read ahead of what is written.
struct SourceFeed {
    TMemberSource* source = nullptr;
    std::int64_t unread = 0;
    bool finished = false;  // its end, or a failure to read, is in the pipeline
};

// The key a path is listed under: its absolute form, lower-cased.
std::string ListedKey(const std::string& path) {
    std::error_code ec;
    return LowerAscii(TrimBlanks(fs::absolute(path, ec).lexically_normal().string()));
}

// The stored name of a listed path: the format's readers split names at "\".
std::string StoredName(const std::string& listedName) {
    std::string name = Utf8ToAnsi(listedName);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Drops what was read ahead of a stop however a block list ends, so nothing of one member's
// blocks reaches the next.
class ClearOnExit {
public:
    explicit ClearOnExit(BlockPipeline& pipeline) : pipeline_(pipeline) {}
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;
    ~ClearOnExit() { pipeline_.Clear(); }

private:
    BlockPipeline& pipeline_;
};

// Reads the member's next blocks into the pipeline while it has room. A failure to read is
// handed on in the failing block's place, so it is reported in turn, after the blocks before it.
void ReadAhead(BlockPipeline& pipeline, SourceFeed& feed) {
    while (feed.unread > 0 && !feed.finished) {
        BlockJob* job = pipeline.FreeJob();
        if (!job) return;
        try {
            job->size = feed.source->Read(
                job->in, static_cast<std::size_t>(std::min<std::int64_t>(feed.unread, kBlockSize)));
        } catch (...) {
            job->readFailure = std::current_exception();
        }
        if (job->readFailure || job->size == 0) {
            job->end = !job->readFailure;  // the file shrank since it was opened
            feed.finished = true;
            pipeline.Submit(*job, false);
            return;
        }
        feed.unread -= static_cast<std::int64_t>(job->size);
        pipeline.Submit(*job, true);
    }
}

// The same for a block list of an archive being restored: reads up to its terminator and no
// further, so the records after it are read as one thread reads them.
void ReadAhead(BlockPipeline& pipeline, ArchiveReader& reader, bool& finished) {
    while (!finished) {
        BlockJob* job = pipeline.FreeJob();
        if (!job) return;
        try {
            job->field = reader.ReadBlockLength();
            job->size = static_cast<std::size_t>(job->field < 0 ? -job->field : job->field);
            reader.ReadBytes(job->in, job->size);
            job->position = reader.Position();
        } catch (...) {
            job->readFailure = std::current_exception();
        }
        finished = job->readFailure || job->field == 0;
        pipeline.Submit(*job, !job->readFailure && job->field > 0);
    }
}

}  // namespace

std::string BackupErrorMessage(int code) {
    switch (code) {
        case beCannotReadFile:
            return "Cannot read file";
        case beOverwritingFailed:
            return "Overwriting file failed";
        case beCannotReadArchive:
            return "Cannot read archive";
        case beCannotWriteArchive:
            return "Cannot write to archive";
        case beInvalidArchiveType:
            return "Invalid archive type";
        case beCompressionError:
            return "Compression error";
        case beCannotSaveFileIds:
            return "Cannot create temporary file to save the file IDs";
    }
    return {};
}

struct TBackupFile::PackMember {
    fs::path path;           // opened by this, unless a source gives the bytes
    std::string storedName;  // CP949
    bool isFileList = false;
    TMemberSource* source = nullptr;
    std::int32_t date = -1;  // a source's
};

struct TBackupFile::PackState {
    std::string archiveName;  // of the disk file being written
    std::int64_t maxSize = 0;
    unsigned disk = 1;
    std::unique_ptr<ArchiveWriter> writer;
    std::unique_ptr<BlockPipeline> pipeline;
    SourceFeed feed;
};

struct TBackupFile::UnpackState {
    std::string archiveName;
    std::string destFolder;
    bool streamMode = false;
    unsigned disk = 1;
    std::unique_ptr<ArchiveReader> reader;
    bool haveMember = false;
    bool restoreMember = true;  // carried on to the member's continuation on the next disk
    std::int32_t date = 0;
    std::unique_ptr<BlockPipeline> pipeline;
    WriteBatch batch;
};

void TBackupFile::SetBackupMode(TBackupMode mode) {
    if (mode == backupMode_) return;
    backupMode_ = mode;
    if (mode == bmIncremental) SetArchiveFlag = true;
}

bool TBackupFile::Backup(const std::vector<std::string>& Files, const std::string& ArchiveName) {
    return Backup({}, Files, ArchiveName);
}

bool TBackupFile::Backup(const std::vector<TSourceMember>& Sources,
                         const std::vector<std::string>& Files, const std::string& ArchiveName) {
    const bool streamMode = ArchiveName == kStreamName;
    errorCode_ = 0;
    errorDetail_.clear();
    currentFile_.clear();
    totalSize_ = doneSize_ = 0;

    FileListBuilder list(streamMode ? std::string() : ArchiveName, backupMode_ == bmIncremental);
    for (const std::string& entry : Files) list.AddEntry(entry);
    std::vector<std::string> sourceKeys;
    for (const TSourceMember& source : Sources) sourceKeys.push_back(ListedKey(source.Name));
    std::vector<ListedFile> files;
    for (const ListedFile& file : list.Files()) {
        if (std::find(sourceKeys.begin(), sourceKeys.end(), file.name) == sourceKeys.end()) {
            files.push_back(file);
        }
    }

    continue_ = true;
    RaiseProgress("", 0);

    std::string fileListText;
    const auto noteListed = [&](const std::string& key, std::int32_t date, std::int64_t size) {
        totalSize_ += size;
        if (SaveFileID) {
            fileListText +=
                StoredName(key) + '\t' + std::to_string(date) + '=' + std::to_string(size) + "\r\n";
        }
    };
    std::vector<std::int64_t> sourceSizes;
    for (std::size_t i = 0; i < Sources.size(); ++i) {
        sourceSizes.push_back(Sources[i].Source->Size());
        noteListed(sourceKeys[i], Sources[i].Date, sourceSizes.back());
    }
    for (const ListedFile& file : files) {
        struct stat st {};
        if (::stat(file.path.c_str(), &st) != 0) continue;
        noteListed(file.name, DosTimeOf(st.st_mtime), st.st_size);
    }

    std::vector<PackMember> members;
    std::optional<FileListFile> fileList;
    if (SaveFileID) {
        try {
            fileList.emplace(TempFolder, fileListText);
            members.push_back({fileList->path(), std::string(kFileListName), true});
            totalSize_ += static_cast<std::int64_t>(fileListText.size());
        } catch (const std::exception& e) {
            Fail(beCannotSaveFileIds, e.what());
        }
    }
    for (std::size_t i = 0; i < Sources.size(); ++i) {
        members.push_back({Sources[i].Name, StoredName(sourceKeys[i]), false, Sources[i].Source,
                           Sources[i].Date});
    }
    for (const ListedFile& file : files) members.push_back({file.path, StoredName(file.name)});

    PackState pack;
    pack.archiveName = ArchiveName;
    pack.pipeline = std::make_unique<BlockPipeline>(BlockPipeline::Work::Deflate,
                                                    ZlibLevel(CompressionLevel), WorkerThreads);
    // A stream is one piece: a disk change would have to close the caller's stream.
    pack.maxSize = (streamMode || MaxSize <= 0) ? 0 : MaxSize;
    fileCount_ = static_cast<std::int32_t>(Sources.size() + files.size());
    try {
        if (streamMode && !OutStream) throw ArchiveError("no output stream was given");
        pack.writer = streamMode ? std::make_unique<ArchiveWriter>(*OutStream)
                                 : std::make_unique<ArchiveWriter>(ArchiveName);
        pack.writer->WriteText(Utf8ToAnsi(BackupTitle));
        // The format keeps the low 32 bits of the sum.
        pack.writer->WriteInt32(static_cast<std::int32_t>(static_cast<std::uint32_t>(totalSize_)));
        pack.writer->WriteInt32(fileCount_);
    } catch (const std::exception& e) {
        Fail(beCannotWriteArchive, e.what());
    }
    doneSize_ = 0;

    for (const PackMember& member : members) {
        if (!continue_) break;
        std::error_code ec;
        if (!member.source && !fs::exists(member.path, ec)) continue;  // gone since it was listed
        Pack(pack, member);
    }

    bool completed = false;
    if (continue_) {
        try {
            pack.writer->WriteInt32(0);
            pack.writer->Close();
            completed = true;
        } catch (const std::exception& e) {
            Fail(beCannotWriteArchive, e.what());
        }
    }
    pack.writer.reset();  // an unfinished archive stays as far as it was written
    fileList.reset();

    RaiseProgress("", 100);
    if (errorCode_ != 0) ReportError();
    return completed;
}

void TBackupFile::Pack(PackState& pack, const PackMember& member) {
    try {
        pack.writer->WriteText(member.storedName);
    } catch (const std::exception& e) {
        Fail(beCannotWriteArchive, e.what());
        return;
    }
    currentFile_ = member.path.string();
    std::optional<TFileStream> file;
    std::optional<FileSource> fileSource;
    TMemberSource* source = member.source;
    std::int64_t remaining = 0;
    try {
        if (source) {
            pack.writer->WriteInt32(member.date);
        } else {
            file.emplace(member.path, TFileStream::Mode::Read);
            source = &fileSource.emplace(*file);
            pack.writer->WriteInt32(file->ModifiedTime().value_or(-1));
        }
        remaining = source->Size();
    } catch (const std::exception& e) {
        Fail(beCannotReadFile, e.what());
        return;
    }
    pack.feed = {source, remaining, false};
    {
        ClearOnExit clear(*pack.pipeline);
        do {
            WriteBlocks(pack, remaining);
        } while (remaining > 0 && continue_);
    }
    pack.feed = {};
    fileSource.reset();
    file.reset();
    // A file whose data did not all reach the archive still needs backing up.
    if (SetArchiveFlag && !member.isFileList && !member.source && remaining <= 0 &&
        errorCode_ == 0) {
        ClearArchiveFlag(member.path);
    }
}

void TBackupFile::WriteBlocks(PackState& pack, std::int64_t& remaining) {
    BlockPipeline& pipeline = *pack.pipeline;
    bool readFailed = false;  // the member's bytes, not the archive, failed
    try {
        pack.writer->WriteBytes(kSignature.data(), kSignature.size());
        while (remaining > 0 && continue_ &&
               (pack.maxSize == 0 || pack.writer->Position() < pack.maxSize - kBlockReserve)) {
            ReadAhead(pipeline, pack.feed);
            BlockJob& job = pipeline.Front();
            readFailed = job.readFailure != nullptr;
            if (readFailed) std::rethrow_exception(job.readFailure);
            if (job.end) {
                pipeline.PopFront();
                remaining = 0;  // the file shrank since it was opened: the member ends here
                break;
            }
            remaining -= static_cast<std::int64_t>(job.size);
            doneSize_ += static_cast<std::int64_t>(job.size);
            if (!job.error.empty()) Fail(beCompressionError, job.error);
            if (continue_) {
                pack.writer->WriteInt32(job.result);
                if (job.result > 0) {
                    pack.writer->WriteBytes(job.out, static_cast<std::size_t>(job.result));
                } else {
                    pack.writer->WriteBytes(job.in, job.size);
                }
            }
            pipeline.PopFront();
            ProcessMessages();
            RaiseProgress(currentFile_, PercentOf(doneSize_, totalSize_));
        }
        pack.writer->WriteInt32(0);
        if (remaining > 0 && continue_) StartNextDisk(pack);
    } catch (const Exception& e) {
        Fail(readFailed ? beCannotReadFile : beCannotWriteArchive, e.what());
    }
}

void TBackupFile::StartNextDisk(PackState& pack) {
    if (pack.disk >= kLastDisk) {
        throw ArchiveError("the archive would need more than " + std::to_string(kLastDisk) +
                           " disk files");
    }
    ++pack.disk;
    const std::string suffix = DiskSuffix(pack.disk);
    pack.writer->WriteText(std::string(kNextDiskPrefix) + suffix);
    pack.writer->Close();
    pack.writer.reset();
    AskForDisk(pack.disk);
    if (!continue_) return;
    pack.archiveName = DiskFileName(pack.archiveName, suffix);
    pack.writer = std::make_unique<ArchiveWriter>(pack.archiveName);
}

bool TBackupFile::Restore(const std::string& ArchiveName, const std::string& DestFolder) {
    UnpackState unpack;
    unpack.archiveName = ArchiveName;
    unpack.pipeline =
        std::make_unique<BlockPipeline>(BlockPipeline::Work::Inflate, 0, WorkerThreads);
    unpack.destFolder = DestFolder;
    unpack.streamMode = ArchiveName == kStreamName;
    errorCode_ = 0;
    errorDetail_.clear();
    currentFile_.clear();
    continue_ = true;
    if (!unpack.streamMode) {
        std::error_code ec;
        if (!fs::exists(ArchiveName, ec)) return false;
    }
    try {
        if (unpack.streamMode && !InStream) throw ArchiveError("no input stream was given");
        unpack.reader = unpack.streamMode ? std::make_unique<ArchiveReader>(*InStream)
                                          : std::make_unique<ArchiveReader>(ArchiveName);
        const ArchiveHeader header = unpack.reader->ReadHeader();
        totalSize_ = header.totalSize;
        fileCount_ = header.fileCount;
    } catch (const ArchiveError& e) {
        errorDetail_ = e.Detail();
        throw ArchiveError(BackupErrorMessage(beCannotReadArchive), e.Detail());
    }
    doneSize_ = 0;

    try {
        while (continue_) {
            const std::optional<std::string> name = unpack.reader->ReadName();
            if (!name) break;
            if (name->starts_with(kNextDiskPrefix)) {
                ContinueOnNextDisk(unpack, *name);
            } else {
                RestoreMember(unpack, *name);
            }
        }
    } catch (const ArchiveError& e) {
        errorDetail_ = e.Detail();
        throw;
    }
    unpack.reader.reset();

    const bool result = errorCode_ == 0 && continue_;
    RaiseProgress("", 100);
    if (errorCode_ != 0) ReportError();
    return result;
}

void TBackupFile::RestoreMember(UnpackState& unpack, const std::string& name) {
    const std::int32_t date = unpack.reader->ReadInt32();
    unpack.date = date;
    unpack.haveMember = true;
    bool decision = false;
    if (name == kFileListName) {
        currentFile_ = name;  // never restored
    } else {
        try {
            currentFile_ = RestoreTargetPath(AnsiToUtf8(name), unpack.destFolder, RestoreFullPath);
        } catch (const ArchiveError& e) {
            unpack.restoreMember = false;
            Fail(beCannotReadFile, e.what());
            return;
        }
        decision = DecideByMode(currentFile_, date);
        if (OnRestoreFile) OnRestoreFile(this, currentFile_, date, decision);
    }
    unpack.restoreMember = decision;
    if (!decision) {
        ReadBlocks(unpack, nullptr);
        return;
    }
    const fs::path folder = fs::path(currentFile_).parent_path();
    std::error_code ec;
    if (!folder.empty() && (fs::create_directories(folder, ec), !fs::is_directory(folder, ec))) {
        unpack.restoreMember = false;
        Fail(beCannotReadFile, "cannot create the folder " + folder.string());
        return;
    }
    std::optional<TFileStream> target;
    try {
        target.emplace(currentFile_, TFileStream::Mode::Create);
    } catch (const Exception& e) {
        unpack.restoreMember = false;
        Fail(beCannotReadFile, e.what());
        return;
    }
    try {
        ReadBlocks(unpack, &*target);
    } catch (const ArchiveError& e) {
        Fail(beCannotReadFile, e.Detail());
    } catch (const Exception& e) {
        Fail(beCannotReadFile, e.what());
    }
    FinishTarget(*target, date);
}

bool TBackupFile::DecideByMode(const std::string& target, std::int32_t date) const {
    std::error_code ec;
    const bool exists = fs::exists(target, ec);
    const bool older = exists && ReadFileDosDateTime(target).value_or(-1) < date;
    switch (RestoreMode) {
        case rmAll:
            return true;
        case rmNoOverwrite:
            return !exists;
        case rmNewer:
            return !exists || older;
        case rmExisting:
            return exists;
        case rmExistingNewer:
            return older;
    }
    return true;
}

void TBackupFile::ReadBlocks(UnpackState& unpack, TFileStream* target) {
    ArchiveReader& reader = *unpack.reader;
    reader.ReadSignature();
    if (!target) {
        for (std::int32_t length = 1; length != 0 && continue_;) {
            length = reader.ReadBlockLength();
            reader.Skip(length < 0 ? -static_cast<std::int64_t>(length) : length);
            ProcessMessages();
        }
        return;
    }
    BlockPipeline& pipeline = *unpack.pipeline;
    ClearOnExit clear(pipeline);
    // Blocks reach the target in large writes; whatever ends the list, what was written so far is
    // in the file before anyone looks at it.
    WriteBatch& batch = unpack.batch;
    batch.Begin(*target);
    try {
        bool finished = false;
        for (;;) {
            ReadAhead(pipeline, reader, finished);
            BlockJob& job = pipeline.Front();
            if (job.readFailure) std::rethrow_exception(job.readFailure);
            const std::int32_t length = job.field;
            if (length != 0) {
                const unsigned char* data = job.in;
                std::size_t produced = job.size;
                if (length > 0 && !job.error.empty()) {
                    Fail(beCompressionError, job.error + " in " + reader.Where(job.position));
                    produced = 0;
                } else if (length > 0) {
                    data = job.out;
                    produced = static_cast<std::size_t>(job.result);
                }
                batch.Write(data, produced);
                doneSize_ += static_cast<std::int64_t>(produced);
            }
            pipeline.PopFront();
            ProcessMessages();
            RaiseProgress(currentFile_, PercentOf(doneSize_, totalSize_));
            if (length == 0 || !continue_) break;
        }
    } catch (...) {
        batch.FlushQuietly();
        throw;
    }
    batch.Flush();
}

void TBackupFile::ContinueOnNextDisk(UnpackState& unpack, const std::string& record) {
    ArchiveReader& reader = *unpack.reader;
    if (unpack.streamMode) reader.Damaged("an archive in a stream can't continue on another disk");
    if (!unpack.haveMember) reader.Damaged("it continues on another disk before any member");
    const unsigned disk = reader.NextDisk(record, unpack.disk);
    const std::string digits = DiskSuffix(disk);
    unpack.reader.reset();
    std::error_code ec;
    do {
        AskForDisk(disk);
        unpack.archiveName = DiskFileName(unpack.archiveName, digits);
    } while (continue_ && !fs::exists(unpack.archiveName, ec));
    if (!continue_) return;

    unpack.disk = disk;
    try {
        unpack.reader = std::make_unique<ArchiveReader>(unpack.archiveName);
    } catch (const ArchiveError& e) {
        throw ArchiveError(BackupErrorMessage(beCannotReadArchive), e.Detail());
    }
    if (!unpack.restoreMember) {
        ReadBlocks(unpack, nullptr);
        return;
    }
    std::optional<TFileStream> target;
    try {
        target.emplace(currentFile_, TFileStream::Mode::Append);
    } catch (const Exception& e) {
        // Like a target that can't be created: a link put in its place is not written through.
        unpack.restoreMember = false;
        Fail(beCannotReadFile, e.what());
        return;
    }
    try {
        ReadBlocks(unpack, &*target);
    } catch (...) {
        FinishTarget(*target, unpack.date);
        throw;
    }
    FinishTarget(*target, unpack.date);
}

void TBackupFile::FinishTarget(TFileStream& target, std::int32_t date) {
    if (OnFileRestored) OnFileRestored(this, currentFile_, target);
    target.SetModifiedTime(date);  // a date that names no real time leaves the file's own
    try {
        target.Close();
    } catch (const Exception& e) {
        if (errorCode_ == 0) Fail(beCannotReadFile, e.what());
    }
}

void TBackupFile::Fail(int code, const std::string& detail) {
    errorCode_ = code;
    errorDetail_ = detail;
    continue_ = false;
}

void TBackupFile::RaiseProgress(const std::string& fileName, TPercentage percent) {
    if (OnProgress) OnProgress(this, fileName, percent, continue_);
}

void TBackupFile::AskForDisk(unsigned disk) {
    if (OnNeedDisk) {
        OnNeedDisk(this, static_cast<std::uint16_t>(disk), continue_);
        return;
    }
    MessageBoxRequest request;
    request.title = kDialogTitle;
    request.text = "Please insert disk " + std::to_string(disk) + " and click OK to continue.";
    request.icon = MessageIcon::Information;
    request.buttons = MessageButtons::OkCancel;
    request.defaultButton = MessageResult::Ok;
    continue_ = CurrentUserInterface().ShowMessageBox(request) == MessageResult::Ok;
}

void TBackupFile::ReportError() {
    const std::string message = BackupErrorMessage(errorCode_);
    if (OnError) {
        OnError(this, errorCode_, message);
        return;
    }
    MessageBoxRequest request;
    request.title = kDialogTitle;
    request.text = errorDetail_.empty() ? message : message + "\n" + errorDetail_;
    request.icon = MessageIcon::Error;
    request.buttons = MessageButtons::Ok;
    CurrentUserInterface().ShowMessageBox(request);
}

}  // namespace tidewell
