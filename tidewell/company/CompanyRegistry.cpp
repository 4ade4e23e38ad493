#include "company/CompanyRegistry.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "company/HostProduct.h"
#include "platform/Error.h"
#include "platform/SettingsHive.h"

namespace tidewell {
namespace {

// A slot value that holds something other than text (written by hand, or by a damaged
// program) counts as absent rather than ending the whole list.
std::string ReadSlotText(const RegistryKey& key, const std::string& name) {
    try {
        return key.ReadString(name);
    } catch (const Exception&) {
        return {};
    }
}

// A whole decimal number, or nothing.
std::optional<std::int64_t> ReadNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// "text,number" as its two parts, split at the last comma (a name may hold commas itself).
std::optional<std::pair<std::string, std::int64_t>> SplitAtLastComma(const std::string& value) {
    const std::size_t comma = value.rfind(',');
    if (comma == std::string::npos) return std::nullopt;
    const auto number = ReadNumber(value.substr(comma + 1));
    if (!number) return std::nullopt;
    return std::pair{value.substr(0, comma), *number};
}

// Writes the agreed state; a state without a time removes every agreed value of the slot.
void WriteSlotSynced(RegistryKey& key, int slot, const TAgreedState& synced) {
    const std::string time = CompanySlotValue(slot, "Synced");
    const std::string file = CompanySlotValue(slot, "SyncedFile");
    const std::string archive = CompanySlotValue(slot, "SyncedArchive");
    if (synced.Time <= 0) {
        for (const std::string& name : {time, file, archive}) key.DeleteValue(name);
        return;
    }
    key.WriteString(time, FormatDateTime("yyyymmddhhnnss", synced.Time));
    if (synced.Local.size >= 0) {
        key.WriteString(file, std::to_string(synced.Local.modifiedNs) + "," +
                                  std::to_string(synced.Local.size));
    } else {
        key.DeleteValue(file);
    }
    if (!synced.Archive.empty() && synced.ArchiveSize >= 0) {
        key.WriteString(archive, synced.Archive + "," + std::to_string(synced.ArchiveSize));
    } else {
        key.DeleteValue(archive);
    }
}

bool InUse(const RegistryKey& key, int slot) {
    return key.ValueExists(CompanySlotValue(slot, "Path"));
}

TCompanySlot ReadSlot(const RegistryKey& key, int slot) {
    TCompanySlot read;
    read.Slot = slot;
    read.CompanyKey = ReadSlotText(key, CompanySlotValue(slot, "Key"));
    read.CompanyName = ReadSlotText(key, CompanySlotValue(slot, "Name"));
    read.LocalPath = ReadSlotText(key, CompanySlotValue(slot, "Path"));
    read.Synced = ReadSlotSynced(key, slot);
    return read;
}

void WriteSlot(RegistryKey& key, int slot, const std::string& companyKey, const std::string& name,
               const std::string& path, const TAgreedState& synced) {
    key.WriteString(CompanySlotValue(slot, "Key"), companyKey);
    key.WriteString(CompanySlotValue(slot, "Name"), name);
    key.WriteString(CompanySlotValue(slot, "Path"), path);
    WriteSlotSynced(key, slot, synced);  // a value left by an earlier slot is no agreement
}

void DeleteSlot(RegistryKey& key, int slot) {
    for (const char* field : kCompanySlotFields) key.DeleteValue(CompanySlotValue(slot, field));
}

bool Registers(const RegistryKey& key, int slot, const std::string& companyKey,
               const std::string& path) {
    return InUse(key, slot) && ReadSlotText(key, CompanySlotValue(slot, "Path")) == path &&
           ReadSlotText(key, CompanySlotValue(slot, "Key")) == companyKey;
}

}  // namespace

std::string CompanySlotValue(int slot, std::string_view field) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", slot);
    return "Company" + std::string(number) + std::string(field);
}

TAgreedState ReadSlotSynced(const RegistryKey& key, int slot) {
    TAgreedState state;
    const auto time = ArchiveTimeToDateTime(ReadSlotText(key, CompanySlotValue(slot, "Synced")));
    if (!time) return state;
    state.Time = *time;
    if (const auto file =
            SplitAtLastComma(ReadSlotText(key, CompanySlotValue(slot, "SyncedFile")))) {
        const auto modified = ReadNumber(file->first);
        if (modified && file->second >= 0) state.Local = {*modified, file->second};
    }
    if (const auto archive =
            SplitAtLastComma(ReadSlotText(key, CompanySlotValue(slot, "SyncedArchive")))) {
        if (!archive->first.empty() && archive->second >= 0) {
            state.Archive = archive->first;
            state.ArchiveSize = archive->second;
        }
    }
    return state;
}

CompanyRegistry::CompanyRegistry(SettingsHive& hive) : hive_(hive) {}

std::vector<TCompanySlot> CompanyRegistry::Load() {
    const std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, true);
    std::vector<TCompanySlot> slots;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        TCompanySlot read = ReadSlot(*key, slot);
        if (read.CompanyName.empty() || read.LocalPath.empty()) continue;
        slots.push_back(std::move(read));
    }
    return slots;
}

void CompanyRegistry::StoreKey(int slot, const std::string& companyKey) {
    hive_.OpenKey(kProgramKey, true)->WriteString(CompanySlotValue(slot, "Key"), companyKey);
}

std::optional<int> CompanyRegistry::AddAtLowestFree(const std::string& companyKey,
                                                    const std::string& name,
                                                    const std::string& path) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, true);
    SettingsBatch batch = hive_.Batch();
    int slot = 0;
    while (slot < kCompanySlotCount && InUse(*key, slot)) ++slot;
    // A slot past the last one would never be read back.
    if (slot >= kCompanySlotCount) return std::nullopt;
    WriteSlot(*key, slot, companyKey, name, path, TAgreedState{});  // nothing agreed yet
    batch.Commit();
    return slot;
}

void CompanyRegistry::AddAfterHighest(const std::string& companyKey, const std::string& name,
                                      const std::string& path, const TAgreedState& synced) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, false);
    if (!key) return;
    SettingsBatch batch = hive_.Batch();
    int highest = -1;
    bool used[kCompanySlotCount] = {};
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!InUse(*key, slot)) continue;
        used[slot] = true;
        highest = slot;
        if (ReadSlotText(*key, CompanySlotValue(slot, "Path")) == path) {
            if (synced.Time > 0) {
                for (int other = slot; other < kCompanySlotCount; ++other) {
                    if (Registers(*key, other, companyKey, path)) {
                        WriteSlotSynced(*key, other, synced);
                    }
                }
            }
            batch.Commit();
            return;
        }
    }
    int slot = highest < 0 ? 1 : highest + 1;
    // Slots above 99 are never read back: the lowest free one instead, or none at all.
    if (slot >= kCompanySlotCount) {
        slot = -1;
        for (int free = 0; free < kCompanySlotCount && slot < 0; ++free) {
            if (!used[free]) slot = free;
        }
        if (slot < 0) return;
    }
    WriteSlot(*key, slot, companyKey, MakeUniqueCompanyName(hive_, name), path, synced);
    batch.Commit();
}

int CompanyRegistry::Remove(const std::string& companyKey, const std::string& path) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, true);
    SettingsBatch batch = hive_.Batch();
    int removed = 0;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!Registers(*key, slot, companyKey, path)) continue;
        DeleteSlot(*key, slot);
        ++removed;
    }
    batch.Commit();
    return removed;
}

bool CompanyRegistry::RecordSynced(const std::string& companyKey, const std::string& path,
                                   const TAgreedState& state) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, false);
    if (!key) return false;
    SettingsBatch batch = hive_.Batch();
    bool recorded = false;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!Registers(*key, slot, companyKey, path)) continue;
        WriteSlotSynced(*key, slot, state);
        recorded = true;
    }
    batch.Commit();
    return recorded;
}

void CompanyRegistry::Rewrite(const std::vector<TCompanySlot>& listed,
                              const std::vector<TCompanySlot>& unseen) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, true);
    SettingsBatch batch = hive_.Batch();
    for (int slot = 0; slot < kCompanySlotCount; ++slot) DeleteSlot(*key, slot);
    int slot = 0;
    const auto write = [&](const TCompanySlot& company) {
        if (slot >= kCompanySlotCount) return;  // no reader looks further
        WriteSlot(*key, slot++, company.CompanyKey, company.CompanyName, company.LocalPath,
                  company.Synced);
    };
    for (const TCompanySlot& company : listed) {
        if (company.LocalPath.empty() || company.CompanyKey.empty()) continue;
        write(company);
    }
    for (const TCompanySlot& company : unseen) {
        bool placed = false;
        for (const TCompanySlot& other : listed) {
            placed = placed || (other.CompanyKey == company.CompanyKey && !other.LocalPath.empty());
        }
        if (!placed) write(company);
    }
    batch.Commit();
}

int CompanyRegistry::Repath(const std::string& from, const std::string& to) {
    std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, false);
    if (!key || from.empty() || to.empty()) return 0;
    SettingsBatch batch = hive_.Batch();
    int moved = 0;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!InUse(*key, slot)) continue;
        const std::string name = CompanySlotValue(slot, "Path");
        const std::string path = ReadSlotText(*key, name);
        const bool inside = path.size() > from.size() && path.starts_with(from) &&
                            (path[from.size()] == '/' || from.back() == '/');
        if (path != from && !inside) continue;
        key->WriteString(name, to + path.substr(from.size()));
        ++moved;
    }
    batch.Commit();
    return moved;
}

std::vector<TCompanySlot> CompanyRegistry::RegisteredAt(const std::string& folder) {
    std::vector<TCompanySlot> found;
    const std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, false);
    if (!key) return found;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!InUse(*key, slot)) continue;
        TCompanySlot read = ReadSlot(*key, slot);
        if (read.LocalPath == folder) found.push_back(std::move(read));
    }
    return found;
}

std::vector<std::string> CompanyRegistry::Names() {
    std::vector<std::string> names;
    const std::optional<RegistryKey> key = hive_.OpenKey(kProgramKey, false);
    if (!key) return names;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        const TCompanySlot read = ReadSlot(*key, slot);
        if (!read.LocalPath.empty()) names.push_back(read.CompanyName);
    }
    return names;
}

}  // namespace tidewell
