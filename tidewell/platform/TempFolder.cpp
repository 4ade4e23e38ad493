#include "platform/TempFolder.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Error.h"

namespace tidewell {
namespace {

[[noreturn]] void Refuse(const std::filesystem::path& folder, const std::string& why) {
    throw Exception("작업 폴더를 사용할 수 없습니다 (" + why + "): " + folder.string());
}

}  // namespace

std::filesystem::path SystemTempFolder() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp == '/') return tmp;
    return "/tmp";
}

void EnsurePrivateFolder(const std::filesystem::path& folder) {
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

}  // namespace tidewell
