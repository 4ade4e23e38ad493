#pragma once

#include <string>
#include <string_view>

namespace tidewell::archive {

// Where a member stored under storedName (UTF-8) is written. Archives come from elsewhere, so
// "\" and "/" both separate parts, and no name may leave the destination:
// - with a destination folder, the member lands in it under its file name, or with fullPath
//   under its folders, less a leading drive ("x:") or root;
// - without one, the stored name must be an absolute path of this system, beginning with "\"
//   or "/"; a Windows path (with a drive) has no place here.
// A ".." part, a zero byte or a name without a file part raises ArchiveError.
std::string RestoreTargetPath(std::string_view storedName, const std::string& destFolder,
                              bool fullPath);

}  // namespace tidewell::archive
