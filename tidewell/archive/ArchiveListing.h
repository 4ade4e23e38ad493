#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tidewell::archive {

struct ArchiveMember {
    std::string name;             // as stored, in UTF-8
    std::int32_t date = -1;       // MS-DOS date and time
    std::int64_t size = 0;        // bytes once restored
    std::int64_t storedSize = 0;  // bytes its blocks take in the archive
};

// Walks an archive and the disk files it continues in (they must exist), inflating every block
// to check it. onMember receives each member whose data is complete. Damage, a missing disk file
// or a missing end marker raise ArchiveError after the members before them were reported.
void ListArchive(const std::string& archiveName,
                 const std::function<void(const ArchiveMember&)>& onMember);

}  // namespace tidewell::archive
