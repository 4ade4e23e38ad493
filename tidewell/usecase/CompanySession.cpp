#include "usecase/CompanySession.h"

#include <filesystem>

#include "company/Common.h"
#include "company/CompanyOperation.h"
#include "gateway/HttpClient.h"
#include "platform/SettingsHive.h"
#include "usecase/ProgramSettings.h"

namespace tidewell {
namespace {

TCompanyOutcome Outcome(TCompanyOutcome::TKind kind) {
    TCompanyOutcome outcome;
    outcome.Kind = kind;
    return outcome;
}

TCompanyOutcome NothingToDo(TCompanyOutcome::TNothing why) {
    TCompanyOutcome outcome;
    outcome.Nothing = why;
    return outcome;
}

// A message of the work, without the company's name that most of them begin with: the front
// ends put the name where they show it.
std::string WithoutName(const std::string& message, const std::string& name) {
    const std::string prefix = name + ": ";
    return !name.empty() && message.starts_with(prefix) ? message.substr(prefix.size()) : message;
}

bool IsUpload(TSyncMode mode) {
    return mode == smUpload || mode == smUserUpload;
}
bool IsDownload(TSyncMode mode) {
    return mode == smDownload || mode == smUserDownload;
}

// Times compare to the second, as the list shows them.
bool SameSecond(TDateTime a, TDateTime b) {
    return FormatDateTime("yyyymmddhhnnss", a) == FormatDateTime("yyyymmddhhnnss", b);
}

bool SameDecision(const TSyncDecision& a, const TSyncDecision& b) {
    return a.Mode == b.Mode && a.Ask == b.Ask;
}

// path itself, or a path inside it.
bool IsAtOrInside(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

TCompanySlot SlotOf(const std::string& key, const std::string& name, const std::string& path,
                    const TAgreedState& synced) {
    TCompanySlot slot;
    slot.CompanyKey = key;
    slot.CompanyName = name;
    slot.LocalPath = path;
    slot.Synced = synced;
    return slot;
}

}  // namespace

CompanySession::CompanySession(const TSessionSetup& setup)
    : settings_(*setup.Settings),
      clock_(*setup.WallClock),
      registry_(*setup.Settings),
      account_(TAccountSetup{setup.Configuration.Service, setup.Configuration.Places,
                             setup.Settings, setup.WallClock}) {}

TLoginOutcome CompanySession::Login(const std::string& userID, const std::string& password) {
    try {
        if (!account_.Login(userID, password)) return {TLoginOutcome::loBlank, {}};
        return {TLoginOutcome::loLoggedIn, {}};
    } catch (const OperationStopped&) {
        account_.Logout();
        return {TLoginOutcome::loStopped, {}};
    } catch (const HttpError& transport) {
        return {TLoginOutcome::loTransport, transport.what()};
    } catch (const std::exception& refusal) {
        return {TLoginOutcome::loRefused, refusal.what()};
    }
}

void CompanySession::Logout() {
    account_.Logout();
    web_.clear();
    webListed_ = true;
    webRefusal_.clear();
    missing_.clear();
    unseen_.clear();
}

TCompanyList CompanySession::BuildList() {
    const TTransferResult web = account_.LoadCompanies();
    webListed_ = true;
    webRefusal_.clear();
    if (web.Kind == TTransferResult::trRefused) {
        // What the web folder holds is not known now: the list is this computer's alone.
        webListed_ = false;
        webRefusal_ = !web.Message.empty() ? web.Message : "STATUS=" + web.Status;
        account_.ClearCompanies();
    }
    web_.clear();
    for (int i = 0; i < account_.CompanyCount(); ++i) web_.push_back(account_.GetCompany(i));
    return Merge();
}

TCompanyList CompanySession::RebuildLocally() {
    // The account's list goes back to the web folder's companies, without this computer's side.
    account_.ClearCompanies();
    for (const TTidewellCompanyPtr& company : web_) {
        company->LocalPath.clear();
        company->LocalModified = 0;
        company->LocalFile = {};
        company->Synced = {};
        company->SyncMode = smNone;
        account_.AddCompany(company);
    }
    return Merge();
}

TCompanyList CompanySession::Merge() {
    TCompanyList list;
    list.WebListed = webListed_;
    list.WebRefusal = webRefusal_;
    const auto rowOf = [&](const std::string& key) -> TCompanyRow* {
        for (TCompanyRow& row : list.Rows) {
            if (row.Company->CompanyKey == key) return &row;
        }
        return nullptr;
    };
    for (int i = 0; i < account_.CompanyCount(); ++i) {
        list.Rows.push_back({account_.GetCompany(i), false, {}});
    }

    TLocalCompanyList local(registry_);
    local.Load();
    list.SettingsReadable = local.SettingsReadable;
    unseen_.clear();
    missing_.clear();
    for (const TSkippedCompanySlot& skipped : local.Skipped) {
        if (skipped.Reason == TSkippedCompanySlot::srOtherCompany) continue;
        unseen_.push_back(skipped);
        if (skipped.Reason == TSkippedCompanySlot::srDamaged) list.Damaged.push_back(skipped);
    }
    for (const TLocalCompanyListItem& item : local.Items) {
        // Items sharing a key give one row, which keeps the folder of the last of them.
        TCompanyRow* row = rowOf(item.CompanyKey);
        if (account_.IndexOfCompany(item.CompanyKey) >= 0 && row) {
            TTidewellCompany& company = *row->Company;
            company.LocalModified = item.LocalModified;
            company.LocalFile = item.LocalFile;
            company.LocalPath = item.LocalPath;
            company.Synced = item.Synced;
            company.SyncMode = smNone;
            continue;
        }
        auto company = std::make_shared<TTidewellCompany>();
        company->CompanyKey = item.CompanyKey;
        company->CompanyName = item.CompanyName;
        company->LocalModified = item.LocalModified;
        company->LocalFile = item.LocalFile;
        company->LocalPath = item.LocalPath;
        company->Synced = item.Synced;
        account_.AddCompany(company);
        list.Rows.push_back({company, false, {}});
    }
    // A registered company none of whose folders is found shows where it was looked for, and
    // has no folder: it is never a download into a folder that is not there.
    for (const TSkippedCompanySlot& skipped : local.Skipped) {
        if (skipped.Reason != TSkippedCompanySlot::srMissing || skipped.CompanyKey.empty())
            continue;
        TCompanyRow* row = rowOf(skipped.CompanyKey);
        if (row && !row->Company->LocalPath.empty()) continue;
        if (!row) {
            auto company = std::make_shared<TTidewellCompany>();
            company->CompanyKey = skipped.CompanyKey;
            company->CompanyName = skipped.CompanyName;
            account_.AddCompany(company);
            list.Rows.push_back({company, false, {}});
            row = &list.Rows.back();
        }
        std::error_code ignored;
        const TMissingFolder missing{skipped.LocalPath,
                                     std::filesystem::is_directory(skipped.LocalPath, ignored)};
        row->Missing = missing;
        missing_[skipped.CompanyKey] = missing;
    }
    for (TCompanyRow& row : list.Rows) {
        const TSyncDecision decision = Decide(*row.Company);
        row.Company->SyncMode = decision.Mode;
        // When both sides changed, only the user decides which one is kept; without the web
        // folder's side nothing is decided at all; a company without a folder here is the
        // user's to place.
        row.Checked = decision.Mode != smNone && decision.Ask == TSyncDecision::akNone &&
                      list.WebListed && !row.Company->LocalPath.empty();
    }
    return list;
}

std::optional<TMissingFolder> CompanySession::MissingFolderOf(
    const TTidewellCompany& company) const {
    if (!company.LocalPath.empty()) return std::nullopt;
    const auto found = missing_.find(company.CompanyKey);
    if (found == missing_.end()) return std::nullopt;
    return found->second;
}

TSyncDecision CompanySession::Decide(const TTidewellCompany& company) const {
    return DecideSync(company, clock_.Now());
}

TCompanyOutcome CompanySession::Run(const TTidewellCompany& company,
                                    const TTidewellProgressEvent& progress,
                                    const std::function<TTransferResult()>& work) {
    account_.OnProgress = progress;
    struct Unset {
        TTidewellUser& user;
        ~Unset() { user.OnProgress = nullptr; }
    } unset{account_};
    try {
        const TTransferResult result = work();
        switch (result.Kind) {
            case TTransferResult::trDone:
                return Outcome(TCompanyOutcome::coDone);
            case TTransferResult::trRefused: {
                TCompanyOutcome refused = Outcome(TCompanyOutcome::coRefused);
                refused.Status = result.Status;
                refused.Message = result.Message;
                return refused;
            }
            case TTransferResult::trNothing:
                return NothingToDo(TCompanyOutcome::tnUnknown);
        }
    } catch (const OperationStopped&) {
        return Outcome(TCompanyOutcome::coStopped);
    } catch (const HttpError& error) {
        // No connection, or one that broke or stalled: the next company would fare no better.
        if (error.StatusCode() == 0) throw;
        TCompanyOutcome failed = Outcome(TCompanyOutcome::coFailed);
        failed.Message = WithoutName(error.what(), company.CompanyName);
        return failed;
    } catch (const std::exception& error) {
        TCompanyOutcome failed = Outcome(TCompanyOutcome::coFailed);
        failed.Message = WithoutName(error.what(), company.CompanyName);
        return failed;
    }
    return NothingToDo(TCompanyOutcome::tnUnknown);
}

bool CompanySession::ReadAgain(TTidewellCompany& company) {
    const TTidewellCompany listed = company;
    TDateTime modified = 0;
    company.LocalModified = GetCompanyDatabaseTime(company.LocalPath, modified) ? modified : 0;
    company.LocalFile = DatabaseSignature(CompanyDatabaseFile(company.LocalPath));
    account_.ReadCompanyAgain(company);
    return !SameSecond(listed.LocalModified, company.LocalModified) ||
           listed.LocalFile != company.LocalFile ||
           !SameSecond(listed.LatestFileTime, company.LatestFileTime) ||
           listed.LatestFileName != company.LatestFileName ||
           listed.LatestFileSize != company.LatestFileSize;
}

TCompanyOutcome CompanySession::Transfer(const TTidewellCompanyPtr& company, TSyncMode mode,
                                         TKeepSide keep, const TTidewellProgressEvent& progress) {
    if (company->LocalPath.empty()) {
        return NothingToDo(missing_.count(company->CompanyKey) ? TCompanyOutcome::tnMissingFolder
                                                               : TCompanyOutcome::tnNoFolder);
    }
    // The list may be minutes old: what was decided then stands only while both sides are as
    // they were, or the decision is the same for what they are now.
    const TSyncDecision listed = Decide(*company);
    bool changed = false;
    const TCompanyOutcome read = Run(*company, {}, [&] {
        changed = ReadAgain(*company);
        return TTransferResult::Done();
    });
    if (read.Kind != TCompanyOutcome::coDone) return read;
    const TSyncDecision decision = Decide(*company);
    if (changed && !SameDecision(listed, decision)) {
        company->SyncMode = decision.Mode;
        TCompanyOutcome outcome = Outcome(TCompanyOutcome::coChanged);
        outcome.Previous = listed;
        outcome.Decision = decision;
        return outcome;
    }
    bool keepWebFirst = false;
    if (decision.Ask != TSyncDecision::akNone) {
        if (keep == TKeepSide::Unanswered) {
            TCompanyOutcome conflict = Outcome(TCompanyOutcome::coConflict);
            conflict.Decision = decision;
            return conflict;
        }
        mode = keep == TKeepSide::Local ? smUserUpload : smUserDownload;
        // The question promised that the side not kept stays as a backup file: a download
        // keeps this computer's data in a safety archive; an upload first keeps the web's.
        keepWebFirst = keep == TKeepSide::Local && company->LatestFileTime > 0;
    }
    return Carry(company, mode, keepWebFirst, progress);
}

TCompanyOutcome CompanySession::Carry(const TTidewellCompanyPtr& company, TSyncMode mode,
                                      bool keepWebFirst, const TTidewellProgressEvent& progress) {
    if (IsUpload(mode)) {
        if (account_.RemainingDays <= 0) return Outcome(TCompanyOutcome::coExpired);
        if (!FileExists(CompanyDatabaseFile(company->LocalPath))) {
            return NothingToDo(TCompanyOutcome::tnNoDatabase);
        }
        std::string kept;
        if (keepWebFirst) {
            // Without that copy nothing is sent.
            const TCompanyOutcome keeping = Run(*company, progress, [&] {
                return account_.KeepNewestArchive(company->CompanyKey, kept);
            });
            if (keeping.Kind != TCompanyOutcome::coDone) return keeping;
            Prune(*company);
        }
        TCompanyOutcome sent =
            Run(*company, progress, [&] { return account_.UploadCompany(company->CompanyKey); });
        sent.KeptArchive = kept;
        if (sent.Kind == TCompanyOutcome::coDone && company->Synced.Time > 0) {
            // The web folder's newest archive is the one just sent.
            company->LatestFileTime = company->Synced.Time;
            company->LatestFileName = company->Synced.Archive;
            company->LatestFileSize = company->Synced.ArchiveSize;
            bool listed = false;
            for (const TTidewellCompanyPtr& web : web_) listed = listed || web == company;
            if (!listed) web_.push_back(company);
        }
        return sent;
    }
    if (IsDownload(mode)) {
        if (company->LatestFileTime <= 0) return NothingToDo(TCompanyOutcome::tnNoArchive);
        const TCompanyOutcome received =
            Run(*company, progress, [&] { return account_.DownloadCompany(company->CompanyKey); });
        if (received.Kind == TCompanyOutcome::coDone) Prune(*company);
        return received;
    }
    return NothingToDo(TCompanyOutcome::tnNoDirection);
}

void CompanySession::Prune(const TTidewellCompany& company) {
    try {
        PruneSafetyArchives(company.LocalPath, SafetyArchivesKept());
    } catch (const std::exception&) {
        // the transfer is done; the archives are tidied next time
    }
}

TAddOutcome CompanySession::AddFolder(const std::string& folder, TSameFolder sameFolder) {
    TAddOutcome outcome;
    if (!FileExists(CompanyDatabaseFile(folder))) return outcome;  // aoNoDatabase
    const auto fail = [&](TAddOutcome::TKind kind) {
        outcome.Kind = kind;
        return outcome;
    };
    try {
        // The key may be written into the database: that is an operation on company data.
        const CompanyOperation operation(account_.Places(), account_.LockWait);
        const TStoredCompanyKey key = EnsureStoredCompanyKey(folder, clock_);
        outcome.CompanyKey = key.Key;
        if (key.ReadOnly) {
            outcome.Problem = key.Problem;
            return fail(TAddOutcome::aoKeyNotMadeHere);
        }
        if (!key.Stored) {
            // Registered under a key its database does not hold, the company would never be
            // listed, and adding it again would be refused as another company's folder.
            outcome.Problem = key.Problem;
            return fail(TAddOutcome::aoKeyNotStored);
        }
        outcome.CompanyName = ReadCompanyStringDef(folder, kCompanyNameQuery, "");
        if (outcome.CompanyKey.empty()) return fail(TAddOutcome::aoNoKey);
        if (outcome.CompanyName.empty()) return fail(TAddOutcome::aoNoName);
        if (folder.empty()) return fail(TAddOutcome::aoNoFolder);
        TTidewellCompany added;
        added.CompanyKey = outcome.CompanyKey;
        added.CompanyName = outcome.CompanyName;
        outcome.Owner = FolderOwnerOtherThan(added, folder);
        if (!outcome.Owner.empty()) return fail(TAddOutcome::aoBelongsTo);
        if (sameFolder == TSameFolder::LeaveAsItIs) {
            for (const TCompanySlot& slot : registry_.RegisteredAt(folder)) {
                if (slot.CompanyKey == outcome.CompanyKey) {
                    outcome.CompanyName = slot.CompanyName;
                    return fail(TAddOutcome::aoAlreadyAdded);
                }
            }
        }
        if (!registry_.AddAtLowestFree(outcome.CompanyKey, outcome.CompanyName, folder)) {
            return fail(TAddOutcome::aoSlotsFull);
        }
    } catch (const std::exception& error) {
        outcome.Problem = error.what();
        return fail(TAddOutcome::aoFailed);
    }
    return fail(TAddOutcome::aoAdded);
}

std::string CompanySession::FolderOwnerOtherThan(const TTidewellCompany& company,
                                                 const std::string& folder) {
    const auto nameOfKey = [&](const std::string& key, const std::string& fallback) {
        const int index = account_.IndexOfCompany(key);
        return index >= 0 ? account_.GetCompany(index)->CompanyName : fallback;
    };
    const std::string present = ReadCompanyKey(folder);
    if (!present.empty() && present != company.CompanyKey) {
        return nameOfKey(present, ReadCompanyStringDef(folder, kCompanyNameQuery, present));
    }
    try {
        for (const TCompanySlot& slot : registry_.RegisteredAt(folder)) {
            if (!slot.CompanyKey.empty() && slot.CompanyKey != company.CompanyKey) {
                return nameOfKey(slot.CompanyKey, slot.CompanyName);
            }
        }
    } catch (const Exception&) {
        // settings that can't be read name nobody
    }
    for (int i = 0; i < account_.CompanyCount(); ++i) {
        const TTidewellCompany& other = *account_.GetCompany(i);
        if (other.LocalPath == folder && other.CompanyKey != company.CompanyKey) {
            return other.CompanyName;
        }
    }
    return {};
}

std::string CompanySession::PickFolder(TTidewellCompany& company, const std::string& folder) {
    if (std::string owner = FolderOwnerOtherThan(company, folder); !owner.empty()) return owner;
    // What both sides agreed on was this company's data in the previous folder.
    if (folder != company.LocalPath) company.Synced = {};
    company.LocalPath = folder;
    TDateTime modified = 0;
    company.LocalModified = GetCompanyDatabaseTime(folder, modified) ? modified : 0;
    company.LocalFile = DatabaseSignature(CompanyDatabaseFile(folder));
    company.SyncMode = Decide(company).Mode;
    return {};
}

TCompanyOutcome CompanySession::Remove(const TTidewellCompanyPtr& company, TRemoveScope scope) {
    // A company whose folder is not found is removed by the folder it is registered with.
    const auto missing = MissingFolderOf(*company);
    const std::string path = missing ? missing->Path : company->LocalPath;
    try {
        const CompanyOperation operation(account_.Places(), account_.LockWait);
        registry_.Remove(company->CompanyKey, path);
    } catch (const std::exception& error) {
        TCompanyOutcome failed = Outcome(TCompanyOutcome::coFailed);
        failed.Message = error.what();
        return failed;
    }
    if (scope == TRemoveScope::ThisComputer || company->LatestFileSize <= 0) {
        return Outcome(TCompanyOutcome::coDone);
    }
    return Run(*company, {}, [&] { return account_.DeleteCompany(company->CompanyKey); });
}

int CompanySession::FolderRenamed(const std::string& from, const std::string& to) {
    int moved = 0;
    try {
        moved = registry_.Repath(from, to);
    } catch (const std::exception&) {
        // settings that can't be written keep the old folder; the list shows it as missing
    }
    const auto follow = [&](std::string& path) {
        if (!path.empty() && IsAtOrInside(path, from)) path = to + path.substr(from.size());
    };
    for (int i = 0; i < account_.CompanyCount(); ++i) follow(account_.GetCompany(i)->LocalPath);
    for (auto& [key, missing] : missing_) follow(missing.Path);
    for (TSkippedCompanySlot& slot : unseen_) follow(slot.LocalPath);
    return moved;
}

int CompanySession::SafetyArchivesKept() {
    return tidewell::SafetyArchivesKept(settings_);
}

void CompanySession::SetSafetyArchivesKept(int kept) {
    tidewell::SetSafetyArchivesKept(settings_, kept);
}

void CompanySession::RemoveSafetyArchive(const TTidewellCompany& company,
                                         const std::string& archivePath) {
    tidewell::RemoveSafetyArchive(company.LocalPath, archivePath);
}

THistory CompanySession::History(const TTidewellCompany& company) const {
    THistory history;
    if (!company.LocalPath.empty()) history.Archives = ListSafetyArchives(company.LocalPath);
    if (company.WebArchiveCount > 1) history.OlderInWebFolder = company.WebArchiveCount - 1;
    return history;
}

TCompanyOutcome CompanySession::RestoreSafetyArchive(const TTidewellCompanyPtr& company,
                                                     const std::string& archivePath,
                                                     const TTidewellProgressEvent& progress) {
    if (company->LocalPath.empty()) return NothingToDo(TCompanyOutcome::tnNoFolder);
    const TCompanyOutcome restored = Run(*company, progress, [&] {
        return account_.RestoreCompanyArchive(company->CompanyKey, archivePath);
    });
    if (restored.Kind == TCompanyOutcome::coDone) Prune(*company);
    return restored;
}

void CompanySession::SaveSlots(const std::vector<TCompanyRow>& rows) {
    std::vector<TCompanySlot> listed;
    for (const TCompanyRow& row : rows) {
        const TTidewellCompany& c = *row.Company;
        listed.push_back(SlotOf(c.CompanyKey, c.CompanyName, c.LocalPath, c.Synced));
    }
    std::vector<TCompanySlot> unseen;
    for (const TSkippedCompanySlot& c : unseen_) {
        unseen.push_back(SlotOf(c.CompanyKey, c.CompanyName, c.LocalPath, c.Synced));
    }
    registry_.Rewrite(listed, unseen);
}

}  // namespace tidewell
