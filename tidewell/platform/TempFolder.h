#pragma once

#include <filesystem>

namespace tidewell {

// $TMPDIR when it names an absolute path, else /tmp.
std::filesystem::path SystemTempFolder();

// Makes sure folder is a directory that only this user can enter: creates it with mode 0700
// when missing (its parent must exist), tightens the mode of one we own, and raises Exception
// when the path is a symbolic link, not a directory, or owned by someone else. Other users can
// plant names in a shared temporary folder, so nothing here follows a link.
void EnsurePrivateFolder(const std::filesystem::path& folder);

}  // namespace tidewell
