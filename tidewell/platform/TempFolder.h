#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace tidewell {

// The temporary folder a value of TMPDIR names: the value when it is an absolute path, else
// /tmp.
std::filesystem::path TempFolderOf(const std::string& tmpdir);

// Makes sure folder is a directory that only this user can enter: creates it with mode 0700
// when missing (its parent must exist), tightens the mode of one we own, and raises Exception
// when the path is a symbolic link, not a directory, or owned by someone else. Other users can
// plant names in a shared temporary folder, so nothing here follows a link.
void EnsurePrivateFolder(const std::filesystem::path& folder);

// What decides where this user's runs keep their working files and their one shared lock.
struct WorkPlacesInput {
    std::filesystem::path runtimeFolder;        // $XDG_RUNTIME_DIR; empty when unset
    std::filesystem::path systemRuntimeFolder;  // /run/user/<uid>, made by the login manager
    std::filesystem::path tempFolder;           // TempFolderOf($TMPDIR)
    std::filesystem::path home;                 // $HOME, else the password database's
    uid_t uid = 0;
};

// The input for this process's effective user, from the values its main read of
// XDG_RUNTIME_DIR, TMPDIR and HOME (empty when unset).
WorkPlacesInput WorkPlacesInputOf(const std::string& runtimeDir, const std::string& tmpdir,
                                  const std::string& home);

struct WorkPlaces {
    std::filesystem::path work;  // working files of the operations, private to the user
    std::filesystem::path lock;  // the folder of the user's operation lock, private too
};

// Creates (when missing) and returns the user's places. With a runtime folder of the user's
// ($XDG_RUNTIME_DIR, else /run/user/<uid>; owned by the user, closed to others) both are its
// Tidewell folder. Without one the lock stays in the home folder (~/.local/state/Tidewell),
// whatever TMPDIR says, so a terminal and a timer with different TMPDIRs still share it, and
// the work goes to tempFolder/Tidewell-<uid>; when someone else took that name first (a folder,
// a link, a FIFO, a file), the work goes to the lock's private folder instead. Raises Exception
// only when not even the home folder can hold them.
WorkPlaces EnsureWorkPlaces(const WorkPlacesInput& input);

}  // namespace tidewell
