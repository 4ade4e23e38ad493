#include "platform/JetLockFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/CompanyDatabase.h"
#include "platform/FileHandle.h"
#include "platform/FileKit.h"
#include "platform/JetDatabase.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

JetDatabaseError FileAccessError(const char* what, const fs::path& file) {
    return JetDatabaseError(JetProblem::FileAccess,
                            std::string(what) + " (" + strerror(errno) + ")", file);
}

JetDatabaseError InUse(const fs::path& database) {
    return JetDatabaseError(
        JetProblem::InUse,
        "다른 프로그램이 데이터베이스를 사용하고 있습니다. 그 프로그램을 닫고 다시 하십시오",
        database);
}

JetDatabaseError Changed(const fs::path& database) {
    return JetDatabaseError(JetProblem::Changed,
                            "복사하는 동안 다른 프로그램이 데이터베이스를 바꾸었습니다. 그 "
                            "프로그램을 닫고 다시 하십시오",
                            database);
}

// The whole file and everything past its end: wherever a writer puts its locks.
flock WholeFile(short type) {
    flock range{};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    return range;
}

// Whether a lock held through another open file (another process's, or another of this one's)
// covers any byte of fd's file. A file whose locks can't be asked about counts as locked.
bool LockedElsewhere(int fd) {
    flock range = WholeFile(F_WRLCK);  // a write lock conflicts with every other lock
    if (::fcntl(fd, F_OFD_GETLK, &range) != 0) return true;
    return range.l_type != F_UNLCK;
}

// Takes a lock of this process on the whole file, or says it can't because another holds one.
bool TakeLock(int fd, short type) {
    flock range = WholeFile(type);
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

FileHandle OpenForLocks(const fs::path& file, int flags) {
    return FileHandle(::open(file.c_str(), flags | O_CLOEXEC | O_NOCTTY));
}

FileSignature SignatureOfOpen(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {};
    return {static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
            static_cast<std::int64_t>(info.st_size)};
}

void CopyBytes(int from, int to, const fs::path& source, const fs::path& dest,
               const StopQuery& stop) {
    std::string buffer(1 << 16, '\0');
    for (off_t at = 0;;) {
        if (StopWanted(stop)) throw OperationStopped();
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw FileAccessError("데이터베이스를 읽을 수 없습니다", source);
        if (got == 0) return;
        try {
            WriteAll(to, buffer.data(), static_cast<std::size_t>(got), dest.string());
        } catch (const Exception& error) {
            throw JetDatabaseError(JetProblem::FileAccess, error.what());
        }
        at += got;
    }
}

}  // namespace

fs::path JetLockFileOf(const fs::path& database) {
    fs::path lockFile = database;
    return lockFile.replace_extension(".ldb");
}

bool HeldByAnotherProcess(const fs::path& file) {
    const FileHandle handle = OpenForLocks(file, O_RDONLY);
    if (!handle) return errno != ENOENT;
    return LockedElsewhere(handle.get());
}

bool JetDatabaseInUse(const fs::path& database) {
    const fs::path lockFile = JetLockFileOf(database);
    return HeldByAnotherProcess(database) || HeldByAnotherProcess(lockFile) ||
           OpenedByAnotherProcess(database.string()) || OpenedByAnotherProcess(lockFile.string());
}

void CopyJetDatabaseFile(const fs::path& source, const fs::path& dest, const StopQuery& stop) {
    const FileHandle from = OpenForLocks(source, O_RDONLY);
    if (!from) throw FileAccessError("데이터베이스를 열 수 없습니다", source);
    const fs::path lockFile = JetLockFileOf(source);
    // Asked through the same open file, this process's own lock never counts.
    if (LockedElsewhere(from.get()) || !TakeLock(from.get(), F_RDLCK) ||
        HeldByAnotherProcess(lockFile)) {
        throw InUse(source);
    }
    const FileSignature before = SignatureOfOpen(from.get());
    const auto identity = IdentityOf(source);

    RemoveFileQuietly(dest);
    FileHandle to;
    try {
        to = CreatePrivateFile(dest);
    } catch (const Exception& error) {
        throw JetDatabaseError(JetProblem::FileAccess, error.what());
    }
    ScopedFileRemoval removeCopy(dest);
    CopyBytes(from.get(), to.get(), source, dest, stop);

    // A writer that came meanwhile has locked the lock file or changed the file; one that put
    // another file in its place has changed the name's file.
    if (LockedElsewhere(from.get()) || HeldByAnotherProcess(lockFile)) throw InUse(source);
    if (SignatureOfOpen(from.get()) != before || SignatureOf(source) != before ||
        IdentityOf(source) != identity) {
        throw Changed(source);
    }
    removeCopy.Keep();
}

void ReplaceJetDatabaseFile(const fs::path& staged, const fs::path& target,
                            const JetReplaceSteps& steps, const StopQuery& stop) {
    struct stat old {};
    const bool existed = ::lstat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        throw JetDatabaseError(JetProblem::FileAccess,
                               "데이터베이스 자리에 파일이 아닌 것이 있어 바꿀 수 없습니다",
                               target);
    }
    const fs::path lockFile = JetLockFileOf(target);
    const auto nobodyElse = [&] {
        if (HeldByAnotherProcess(lockFile) || OpenedByAnotherProcess(target.string()) ||
            OpenedByAnotherProcess(lockFile.string())) {
            throw InUse(target);
        }
    };
    FileHandle held;
    if (existed) {
        held = OpenForLocks(target, O_RDWR);
        if (!held) throw FileAccessError("데이터베이스를 열 수 없습니다", target);
        if (!TakeLock(held.get(), F_WRLCK)) throw InUse(target);
    }
    nobodyElse();

    if (steps.keepCurrent) {
        Assert(!steps.copyFile.empty(), "Jet 데이터베이스 교체: 보관할 사본의 자리가 없습니다.",
               "JetLockFile", __LINE__);
        if (existed) {
            FileHandle copy;
            try {
                copy = CreatePrivateFile(steps.copyFile);
            } catch (const Exception& error) {
                throw JetDatabaseError(JetProblem::FileAccess, error.what());
            }
            const ScopedFileRemoval removeCopy(steps.copyFile);
            const FileSignature before = SignatureOfOpen(held.get());
            CopyBytes(held.get(), copy.get(), target, steps.copyFile, stop);
            copy.Reset();
            if (SignatureOfOpen(held.get()) != before) throw Changed(target);
            steps.keepCurrent(steps.copyFile);
        } else {
            steps.keepCurrent({});
        }
    }
    if (steps.beforeReplace) steps.beforeReplace();
    if (steps.settleNew) steps.settleNew(staged);
    if (StopWanted(stop)) throw OperationStopped();

    if (existed) ::chmod(staged.c_str(), old.st_mode & 07777);
    try {
        SyncFile(staged);  // the new data is on the disk before it takes the old data's place
    } catch (const Exception& error) {
        throw JetDatabaseError(JetProblem::FileAccess, error.what());
    }
    nobodyElse();  // the steps took their time: a program that opened it since still counts
    const int moved =
        existed ? ::rename(staged.c_str(), target.c_str())
                : ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (moved != 0) throw FileAccessError("데이터베이스를 바꿀 수 없습니다", target);
    try {
        SyncFolder(target.parent_path());
    } catch (const Exception&) {
        // The rename stands; a folder the system can't sync loses nothing more than it would.
    }
}

}  // namespace tidewell
