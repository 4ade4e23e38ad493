#include "platform/TempFolder.h"

#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

[[noreturn]] void Refuse(const fs::path& folder, const std::string& why) {
    throw Exception("작업 폴더를 사용할 수 없습니다 (" + why + "): " + folder.string());
}

// A runtime folder as the login manager makes it: a directory of this user that nobody else
// may enter, so no one else can have planted a name in it.
bool IsUsersRuntimeFolder(const fs::path& folder, uid_t uid) {
    struct stat st {};
    return folder.is_absolute() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == uid && (st.st_mode & 077) == 0;
}

fs::path HomeFolder(const std::string& home) {
    if (!home.empty() && home.front() == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir == '/') {
        return found->pw_dir;
    }
    return {};
}

// ~/.local/state/Tidewell: the missing folders on the way are made for this user only.
fs::path EnsureHomeStateFolder(const fs::path& home) {
    if (home.empty() || !home.is_absolute()) {
        throw Exception("작업 폴더를 만들 홈 폴더를 찾을 수 없습니다.");
    }
    fs::path folder = home;
    for (const char* part : {".local", "state"}) {
        folder /= part;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) Refuse(folder, strerror(errno));
    }
    folder /= "Tidewell";
    EnsurePrivateFolder(folder);
    return folder;
}

}  // namespace

fs::path TempFolderOf(const std::string& tmpdir) {
    if (!tmpdir.empty() && tmpdir.front() == '/') return tmpdir;
    return "/tmp";
}

void EnsurePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0) {
        ::chmod(folder.c_str(), 0700);  // the umask may have taken bits away, never added any
        return;
    }
    if (errno != EEXIST) Refuse(folder, strerror(errno));
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) Refuse(folder, strerror(errno));
    if (S_ISLNK(st.st_mode)) Refuse(folder, "심볼릭 링크");
    if (!S_ISDIR(st.st_mode)) Refuse(folder, "폴더가 아님");
    if (st.st_uid != ::geteuid()) Refuse(folder, "다른 사용자의 폴더");
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        Refuse(folder, strerror(errno));
    }
}

WorkPlacesInput WorkPlacesInputOf(const std::string& runtimeDir, const std::string& tmpdir,
                                  const std::string& home) {
    WorkPlacesInput input;
    input.uid = ::geteuid();
    input.runtimeFolder = runtimeDir;
    input.systemRuntimeFolder = "/run/user/" + std::to_string(input.uid);
    input.tempFolder = TempFolderOf(tmpdir);
    input.home = HomeFolder(home);
    return input;
}

WorkPlaces EnsureWorkPlaces(const WorkPlacesInput& input) {
    for (const fs::path& runtime : {input.runtimeFolder, input.systemRuntimeFolder}) {
        if (!IsUsersRuntimeFolder(runtime, input.uid)) continue;
        const fs::path folder = runtime / "Tidewell";
        EnsurePrivateFolder(folder);
        return {folder, folder};
    }
    // No runtime folder (a timer or cron job outside any login, a system without a login
    // manager): the lock must not follow TMPDIR, and /tmp is open to everybody.
    const fs::path lock = EnsureHomeStateFolder(input.home);
    const fs::path work = input.tempFolder / ("Tidewell-" + std::to_string(input.uid));
    try {
        EnsurePrivateFolder(work);
        return {work, lock};
    } catch (const Exception&) {
        // Taken by someone else, or no temporary folder at all: the work stays at home.
        return {lock, lock};
    }
}

}  // namespace tidewell
