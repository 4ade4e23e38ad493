#include "ObjectFsck.h"

#include <map>

namespace tidewell::webfolder {

std::string ObjectInconsistencies::Summary() const {
    if (Count() == 0) return {};
    return std::to_string(strays.size() + strayUploads.size()) +
           " objects the index does not name, " + std::to_string(lost.size()) +
           " index entries whose object is gone, " + std::to_string(resized.size()) +
           " of another size";
}

ObjectInconsistencies FindObjectInconsistencies(DistributedBackend& backend) {
    PgIndex& index = backend.Pg();
    S3Bytes& bytes = backend.Objects();
    S3Client& client = bytes.Client();
    ObjectInconsistencies found;
    // The index first: whatever it named then was in the store before, so a row whose object
    // the listing lacks was lost, unless it went meanwhile (checked again below).
    std::map<std::string, std::int64_t> named;
    for (auto& [object, size] : index.ArchiveObjects()) named.emplace(std::move(object), size);
    std::map<std::string, std::int64_t> listed;
    client.ListObjects(bytes.ArchivesPrefix(), [&](const std::vector<S3Object>& page) {
        for (const auto& object : page) listed.emplace(object.key, object.size);
    });
    for (const auto& [object, size] : listed) {
        if (named.count(object) != 0) continue;
        // Stored or let go of since the index was read, or an upload under way: not a stray.
        if (index.NamedSize(object) || index.InLedger(object)) continue;
        found.strays.push_back(object);
    }
    for (const auto& [object, size] : named) {
        const auto at = listed.find(object);
        if (at != listed.end() && at->second == size) continue;
        const auto now = index.NamedSize(object);
        if (!now) continue;  // let go of meanwhile
        const auto actual = client.HeadObject(object);
        if (!actual) {
            found.lost.push_back({object, *now, 0});
        } else if (*actual != *now) {
            found.resized.push_back({object, *now, *actual});
        }
    }
    for (const auto& upload : client.ListMultipartUploads(bytes.ArchivesPrefix())) {
        if (!index.InLedger(upload.key)) found.strayUploads.push_back(upload);
    }
    return found;
}

void RepairObjects(DistributedBackend& backend, const ObjectInconsistencies& found) {
    PgIndex& index = backend.Pg();
    S3Bytes& bytes = backend.Objects();
    S3Client& client = bytes.Client();
    for (const auto& object : found.strays) {
        if (index.NamedSize(object) || index.InLedger(object)) continue;
        client.CopyObject(object,
                          bytes.Prefix() + "orphans/" + object.substr(bytes.Prefix().size()));
        client.DeleteObject(object);
    }
    for (const auto& upload : found.strayUploads) {
        if (!index.InLedger(upload.key)) client.AbortMultipartUpload(upload.key, upload.uploadId);
    }
    for (const auto& entry : found.lost) {
        if (!client.HeadObject(entry.object)) index.DropArchive(entry.object);
    }
    for (const auto& entry : found.resized) index.SetArchiveSize(entry.object, entry.actual);
}

}  // namespace tidewell::webfolder
