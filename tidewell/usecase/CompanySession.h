#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "company/CompanyRegistry.h"
#include "company/LocalCompanyList.h"
#include "company/SafetyArchives.h"
#include "gateway/TidewellUser.h"
#include "platform/Clock.h"
#include "usecase/Configuration.h"
#include "usecase/SyncDecision.h"

namespace tidewell {

class SettingsHive;

// What a session is made from: the user's settings, the run's configuration and a clock.
struct TSessionSetup {
    SettingsHive* Settings = nullptr;  // required
    TConfiguration Configuration;
    const Clock* WallClock = &SystemClock();
};

// A company registered on this computer whose folder is not found now (an unplugged drive, a
// folder renamed elsewhere): where it was looked for.
struct TMissingFolder {
    std::string Path;
    bool FolderExists = false;  // the folder is there, only its default.mdb is not
};

// One row of the company list: a company of the account and its check mark.
struct TCompanyRow {
    TTidewellCompanyPtr Company;
    bool Checked = false;
    // Registered here, but its folder is not found: the row has no folder and is never a
    // download into nowhere.
    std::optional<TMissingFolder> Missing;
};

// What logging in came to.
struct TLoginOutcome {
    enum TKind {
        loLoggedIn,
        loBlank,      // the ID or the password is blank once stripped; nothing was sent
        loRefused,    // the service said no; Reason is its message
        loTransport,  // the service could not be reached, or failed; Reason says how
        loStopped,    // the user stopped it
    };
    TKind Kind = loBlank;
    std::string Reason;
};

// The company list as a rebuild found it.
struct TCompanyList {
    // The web folder's companies in the service's order, then the ones only this computer
    // has, each with its direction decided; checked when it has a folder here and something to
    // transfer that needs nobody's choice.
    std::vector<TCompanyRow> Rows;
    // False when the service refused the company list: the rows are this computer's companies
    // only, none checked (the web folder's side is not known), and WebRefusal says why.
    bool WebListed = true;
    std::string WebRefusal;
    // False when the settings could not be read: the rows lack the registered companies.
    bool SettingsReadable = true;
    // Registered companies whose data can't be read (a damaged database), left out.
    std::vector<TSkippedCompanySlot> Damaged;
};

// What a transfer, a removal or a way back came to for one company. A failure of the transport
// (the service unreachable, a transfer that stalls) is no company's: it raises HttpError and
// ends the command.
struct TCompanyOutcome {
    enum TKind {
        coDone,
        coNothing,   // nothing to do; Nothing says why
        coExpired,   // an upload while the service period has ended
        coConflict,  // the user must say which side to keep (Decision says why)
        coRefused,   // the service said no: Status and Message
        coFailed,    // the work failed for this company (Message): data of another company, an
                     // archive that fails its check, a busy database, another run's lock ...
        coStopped,   // the user stopped it; nothing changed
        coChanged,   // a side changed since the list was built, and the decision with it
                     // (Previous what the list showed, Decision the new one); nothing moved
    };
    enum TNothing {
        tnNoDirection,    // the company's choice is to transfer nothing
        tnNoFolder,       // it has no folder on this computer
        tnMissingFolder,  // its registered folder is not found now (see TMissingFolder)
        tnNoDatabase,     // an upload, but its folder holds no default.mdb
        tnNoArchive,      // a download, but the web folder holds no archive of it
        tnUnknown,        // the account does not know it (or is not logged in)
    };
    TKind Kind = coNothing;
    TNothing Nothing = tnNoDirection;
    std::string Status;
    std::string Message;      // without the company's name in front
    TSyncDecision Decision;   // for coConflict, and the new one for coChanged
    TSyncDecision Previous;   // for coChanged
    std::string KeptArchive;  // a safety archive the transfer made of the side it replaced
};

// Which side to keep when both changed; Unanswered leaves such a company as it is.
enum class TKeepSide { Unanswered, Local, Web };

// Where a company is removed: here and in the web folder, or from this computer's list only
// (its folder and the web folder's archives stay).
enum class TRemoveScope { Everywhere, ThisComputer };

// What adding a company folder came to.
struct TAddOutcome {
    enum TKind {
        aoAdded,
        aoAlreadyAdded,  // registered already under its key: nothing changed
        aoNoDatabase,    // no default.mdb in the folder
        aoKeyNotStored,  // the database would not take the company's new key (Problem says
                         // why): nothing is registered; a later try may succeed
        aoNoKey,         // the values a registration needs: key, name, folder
        aoNoName,
        aoNoFolder,
        aoBelongsTo,  // the folder is another company's (Owner names it)
        aoSlotsFull,  // every slot is taken
        aoFailed,     // the database or the operation lock failed (Problem)
        // the database has no key and is of an engine that only reads here (Problem says
        // where the key is made): nothing is registered
        aoKeyNotMadeHere,
    };
    TKind Kind = aoNoDatabase;
    std::string CompanyKey;
    std::string CompanyName;
    std::string Owner;
    std::string Problem;
};

// A folder registered already under the key of its database: registered once more (the
// window's add, whose duplicates the shutdown rewrite folds away), or left as it is.
enum class TSameFolder { AddAgain, LeaveAsItIs };

// A company's safety archives, newest first, and how many older copies the web folder keeps.
struct THistory {
    std::vector<TSafetyArchive> Archives;
    std::int64_t OlderInWebFolder = 0;
};

// The use cases of the window and tidewell-cli, without either: login, the company list, the
// transfer of one company in a chosen direction, adding, removing, the way back to a safety
// archive, the history. Outcomes come back as values; what the user sees of them is the front
// end's business. One session lives for a run.
class CompanySession {
public:
    explicit CompanySession(const TSessionSetup& setup);
    CompanySession(const CompanySession&) = delete;
    CompanySession& operator=(const CompanySession&) = delete;

    TTidewellUser& Account() { return account_; }
    const TTidewellUser& Account() const { return account_; }
    SettingsHive& Settings() { return settings_; }
    CompanyRegistry& Registry() { return registry_; }
    const Clock& WallClock() const { return clock_; }

    // A stop request (RequestStop) ends it at once, also while the service stalls.
    TLoginOutcome Login(const std::string& userID, const std::string& password);
    // Forgets the login and the companies; the registered companies stay registered.
    void Logout();
    bool LoggedIn() const { return !account_.UserID.empty(); }

    // Asks the service for its companies, reads the registered ones and merges them by key.
    // Raises HttpError when the service can't be reached (the previous list stays then).
    TCompanyList BuildList();
    // The same without asking the service: the web folder's side as it was last known, this
    // computer's read again (its databases changed, a folder came or went).
    TCompanyList RebuildLocally();

    // Which way the company's data travels now, by the one rule (see DecideSync).
    TSyncDecision Decide(const TTidewellCompany& company) const;

    // Transfers one company as mode says; keep answers the question when both sides changed.
    // progress receives the stages while the transfer runs. Right before, both sides are read
    // again (the local database, the web folder's details of the company): when one changed
    // since the list was built and the decision changed with it, nothing moves (coChanged) and
    // the company holds what it is now. Keeping this computer's data over the web folder's
    // first keeps the web folder's newest archive in the company's Backup folder.
    TCompanyOutcome Transfer(const TTidewellCompanyPtr& company, TSyncMode mode, TKeepSide keep,
                             const TTidewellProgressEvent& progress = {});
    // The registered folder a company of the last list lacks, if it does.
    std::optional<TMissingFolder> MissingFolderOf(const TTidewellCompany& company) const;

    // Registers the company whose database is in folder.
    TAddOutcome AddFolder(const std::string& folder, TSameFolder sameFolder);

    // The name of another company the folder belongs to: one whose database is in it, one
    // registered with it, or one of the list that has it as its folder; empty when it is free
    // for company.
    std::string FolderOwnerOtherThan(const TTidewellCompany& company, const std::string& folder);
    // Gives company the folder the user picked for it: empty when done, else the name of the
    // company it belongs to (nothing changes then). The agreement with the web folder went with
    // the previous folder.
    std::string PickFolder(TTidewellCompany& company, const std::string& folder);

    // Unregisters the company's folder here (the folder itself stays) and, Everywhere, when the
    // web folder holds an archive of it, deletes it there.
    TCompanyOutcome Remove(const TTidewellCompanyPtr& company,
                           TRemoveScope scope = TRemoveScope::Everywhere);

    // A folder renamed or moved by the user (in the folder picker): the registered companies
    // in it, and the companies of the list, follow. How many registrations changed.
    int FolderRenamed(const std::string& from, const std::string& to);

    THistory History(const TTidewellCompany& company) const;
    // How many safety archives each company keeps (the newest always stays).
    int SafetyArchivesKept();
    void SetSafetyArchivesKept(int kept);
    // Removes one of the company's safety archives (a path History gave).
    void RemoveSafetyArchive(const TTidewellCompany& company, const std::string& archivePath);
    // Puts one of the company's safety archives back (see TTidewellUser::RestoreCompanyArchive).
    TCompanyOutcome RestoreSafetyArchive(const TTidewellCompanyPtr& company,
                                         const std::string& archivePath,
                                         const TTidewellProgressEvent& progress = {});

    // The shutdown rewrite of the registered companies from the rows, keeping those the last
    // list could not see.
    void SaveSlots(const std::vector<TCompanyRow>& rows);

    void RequestStop() { account_.RequestStop(); }
    void ResetStop() { account_.ResetStop(); }

private:
    // Runs work for one company: its result, a stop, or a failure become the outcome; a
    // failure of the transport raises.
    TCompanyOutcome Run(const TTidewellCompany& company, const TTidewellProgressEvent& progress,
                        const std::function<TTransferResult()>& work);
    // Merges the registered companies into the account's web companies (as the service gave
    // them last), deciding every row.
    TCompanyList Merge();
    // Reads both sides of the company again; true when either changed since it was listed.
    bool ReadAgain(TTidewellCompany& company);
    // The transfer itself, once the decision stands.
    TCompanyOutcome Carry(const TTidewellCompanyPtr& company, TSyncMode mode, bool keepWebFirst,
                          const TTidewellProgressEvent& progress);
    // Keeps the newest safety archives only, after a transfer made one.
    void Prune(const TTidewellCompany& company);

    SettingsHive& settings_;
    const Clock& clock_;
    CompanyRegistry registry_;
    TTidewellUser account_;
    // Registered companies the last list could not see (a missing drive, a damaged database).
    std::vector<TSkippedCompanySlot> unseen_;
    // The web folder's companies as the service last listed them, and whether it did.
    std::vector<TTidewellCompanyPtr> web_;
    bool webListed_ = true;
    std::string webRefusal_;
    // The registered folders the last list did not find, by company key.
    std::map<std::string, TMissingFolder> missing_;
};

}  // namespace tidewell
