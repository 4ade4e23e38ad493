#include "usecase/CompanySession.h"

#include "company/Common.h"
#include "company/CompanyOperation.h"
#include "gateway/HttpClient.h"
#include "platform/SettingsHive.h"

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
    } catch (const HttpError& transport) {
        return {TLoginOutcome::loTransport, transport.what()};
    } catch (const std::exception& refusal) {
        return {TLoginOutcome::loRefused, refusal.what()};
    }
}

TCompanyList CompanySession::BuildList() {
    TCompanyList list;
    const TTransferResult web = account_.LoadCompanies();
    if (web.Kind == TTransferResult::trRefused) {
        // What the web folder holds is not known now: the list is this computer's alone.
        list.WebListed = false;
        list.WebRefusal = !web.Message.empty() ? web.Message : "STATUS=" + web.Status;
        account_.ClearCompanies();
    }
    const auto rowOf = [&](const std::string& key) -> TCompanyRow* {
        for (TCompanyRow& row : list.Rows) {
            if (row.Company->CompanyKey == key) return &row;
        }
        return nullptr;
    };
    for (int i = 0; i < account_.CompanyCount(); ++i) {
        list.Rows.push_back({account_.GetCompany(i), false});
    }

    TLocalCompanyList local(registry_);
    local.Load();
    list.SettingsReadable = local.SettingsReadable;
    unseen_.clear();
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
        list.Rows.push_back({company, false});
    }
    for (TCompanyRow& row : list.Rows) {
        const TSyncDecision decision = Decide(*row.Company);
        row.Company->SyncMode = decision.Mode;
        // When both sides changed, only the user decides which one is kept; without the web
        // folder's side nothing is decided at all.
        row.Checked =
            decision.Mode != smNone && decision.Ask == TSyncDecision::akNone && list.WebListed;
    }
    return list;
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

TCompanyOutcome CompanySession::Transfer(const TTidewellCompanyPtr& company, TSyncMode mode,
                                         TKeepSide keep, const TTidewellProgressEvent& progress) {
    if (company->LocalPath.empty()) return NothingToDo(TCompanyOutcome::tnNoFolder);
    const TSyncDecision decision = Decide(*company);
    if (decision.Ask != TSyncDecision::akNone) {
        if (keep == TKeepSide::Unanswered) {
            TCompanyOutcome conflict = Outcome(TCompanyOutcome::coConflict);
            conflict.Decision = decision;
            return conflict;
        }
        mode = keep == TKeepSide::Local ? smUserUpload : smUserDownload;
    }
    if (IsUpload(mode)) {
        if (account_.RemainingDays <= 0) return Outcome(TCompanyOutcome::coExpired);
        if (!FileExists(CompanyDatabaseFile(company->LocalPath))) {
            return NothingToDo(TCompanyOutcome::tnNoDatabase);
        }
        return Run(*company, progress, [&] { return account_.UploadCompany(company->CompanyKey); });
    }
    if (IsDownload(mode)) {
        if (company->LatestFileTime <= 0) return NothingToDo(TCompanyOutcome::tnNoArchive);
        return Run(*company, progress,
                   [&] { return account_.DownloadCompany(company->CompanyKey); });
    }
    return NothingToDo(TCompanyOutcome::tnNoDirection);
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

TCompanyOutcome CompanySession::Remove(const TTidewellCompanyPtr& company) {
    try {
        const CompanyOperation operation(account_.Places(), account_.LockWait);
        registry_.Remove(company->CompanyKey, company->LocalPath);
    } catch (const std::exception& error) {
        TCompanyOutcome failed = Outcome(TCompanyOutcome::coFailed);
        failed.Message = error.what();
        return failed;
    }
    if (company->LatestFileSize <= 0) return Outcome(TCompanyOutcome::coDone);
    return Run(*company, {}, [&] { return account_.DeleteCompany(company->CompanyKey); });
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
    return Run(*company, progress,
               [&] { return account_.RestoreCompanyArchive(company->CompanyKey, archivePath); });
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
