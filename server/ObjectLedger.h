#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tidewell::webfolder {

// What an object store shared by several instances needs the index to remember: the objects no
// archive names (uploads under way or cut off, archives let go of), and the downloads reading
// an object. So a crash anywhere leaves nothing that is not written down, and nothing has to
// walk the store to find what to remove.
class ObjectLedger {
public:
    virtual ~ObjectLedger() = default;
    // Before an upload writes its object.
    virtual void NoteUnnamed(const std::string& object) = 0;
    // The objects are gone from the store, or were never written.
    virtual void Forget(const std::vector<std::string>& objects) = 0;
    // Of these objects, those the index let go of and that no download reads.
    virtual std::vector<std::string> Removable(const std::vector<std::string>& objects) = 0;
    // Objects that may be removed now: let go of and unread, or uploads unnamed for longer
    // than pendingSeconds (long past any upload's end); the oldest first, at most limit.
    virtual std::vector<std::string> Doomed(std::int64_t pendingSeconds, std::size_t limit) = 0;
    // A download goes on: its object stays a while longer. Ended: it may go.
    virtual void ExtendRead(const std::string& object, const std::string& reader) = 0;
    virtual void EndRead(const std::string& object, const std::string& reader) = 0;
};

}  // namespace tidewell::webfolder
