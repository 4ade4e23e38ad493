#include "platform/CompanyDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "platform/FileKit.h"
#include "platform/JetDatabase.h"
#include "platform/JetLockFile.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

bool SameText(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// A database of a kind that no engine here reads (a Jet 3 or ACE database, a Jet of an unknown
// version) is refused naming what it is; so are, when whole (a file about to be used as a
// company's), an empty file (SQLite would take it for an empty database) and bytes of no
// database at all. Anything else is the engine's to report: a missing file, or, when opening,
// bytes of no database ("not a database file").
void RefuseOtherFormats(const std::string& file, bool whole) {
    const DatabaseFormat format = DatabaseFileFormat(file);
    switch (format) {
        case DatabaseFormat::Jet3:
        case DatabaseFormat::Ace:
        case DatabaseFormat::JetUnknown:
            break;
        case DatabaseFormat::Empty: {
            std::error_code absent;
            if (whole && fs::exists(file, absent)) break;
            return;
        }
        case DatabaseFormat::Other:
            if (whole) break;
            return;
        case DatabaseFormat::Sqlite:
        case DatabaseFormat::Jet4:
            return;
    }
    throw CompanyDatabaseError(NotCompanyDatabaseReason(format) + ": " + file,
                               DatabaseProblem::NotADatabase);
}

// How a database looks from outside: its file and the file of its pending changes.
std::pair<FileSignature, FileSignature> LookOf(const std::string& file) {
    const std::string pending = PendingChangesFile(file);
    return {SignatureOf(file), pending.empty() ? FileSignature{} : SignatureOf(pending)};
}

// A database of one engine replaced by a file of the other, which the user agreed to: no engine
// carries the content across, so the file takes the database's place by rename, and only while
// no other program has it, or a file of its engine beside it, open. The current content is kept
// as its own engine copies it (an SQLite snapshot holds what still waits in the WAL). The
// rename happens under a write lock of this process on the file, which holds every writer off
// (the same replacement as for a Jet database: it asks nothing of the content); a change made
// between the copy and that lock is found and refuses the replacement. The old engine's files
// beside the database go with it, so that the new engine never takes them for its own.
void ReplaceAcrossEngines(const std::string& staged, const std::string& target,
                          const ReplaceSteps& steps, const StopQuery& stop) {
    const DatabaseEngine& old = EngineFor(target);
    if (old.InUse(target)) {
        throw CompanyDatabaseError(
            "다른 프로그램이 데이터베이스를 사용하고 있어 바꿀 수 없습니다: " + target,
            DatabaseProblem::Busy);
    }
    const auto before = LookOf(target);
    std::optional<ScopedFileRemoval> removeCopy;
    if (steps.KeepCurrent) {
        RemoveFileQuietly(steps.CopyFile);
        try {
            old.Snapshot(target, steps.CopyFile, stop);
        } catch (const CompanyDatabaseError& error) {
            // A damaged database is kept as it is: its bytes are all there is to keep.
            if (error.problem() != DatabaseProblem::Damaged &&
                error.problem() != DatabaseProblem::NotADatabase) {
                throw;
            }
            old.CopyFile(target, steps.CopyFile);
        }
        removeCopy.emplace(steps.CopyFile);
    }
    JetReplaceSteps rename;
    rename.beforeReplace = [&] {
        if (LookOf(target) != before) {
            throw CompanyDatabaseError(
                "바꾸려는 동안 다른 프로그램이 데이터베이스를 바꾸었습니다. 그 프로그램을 닫고 "
                "다시 하십시오: " +
                    target,
                DatabaseProblem::Busy);
        }
        if (steps.KeepCurrent) {
            FileByteSource current(steps.CopyFile);
            steps.KeepCurrent(&current);
        }
        if (steps.BeforeReplace) steps.BeforeReplace();
        for (const std::string& companion : old.CompanionFiles(target)) {
            RemoveFileQuietly(companion);
        }
    };
    if (steps.SettleNew)
        rename.settleNew = [&](const fs::path& file) { steps.SettleNew(file.string()); };
    try {
        ReplaceJetDatabaseFile(staged, target, rename, stop);
    } catch (const JetDatabaseError& error) {
        throw CompanyDatabaseError(
            error.reason() + ": " + target,
            error.problem() == JetProblem::InUse || error.problem() == JetProblem::Changed
                ? DatabaseProblem::Busy
                : DatabaseProblem::Other);
    }
}

}  // namespace

CompanyConnectionParams ParseCompanyConnectionString(const std::string& connectionString) {
    CompanyConnectionParams params;
    bool haveSource = false;
    std::size_t pos = 0;
    const std::string& s = connectionString;
    while (pos < s.size()) {
        const std::size_t equals = s.find('=', pos);
        const std::size_t semicolon = s.find(';', pos);
        if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
            // A part without "=": only empty parts are allowed ("a=b;;c=d" or a trailing ';').
            const std::string part =
                s.substr(pos, semicolon == std::string::npos ? std::string::npos : semicolon - pos);
            if (!TrimBlanks(part).empty()) {
                throw CompanyDatabaseError("연결 문자열을 읽을 수 없습니다: " + s,
                                           DatabaseProblem::Other);
            }
            if (semicolon == std::string::npos) break;
            pos = semicolon + 1;
            continue;
        }
        const std::string key = TrimBlanks(s.substr(pos, equals - pos));
        std::size_t cursor = equals + 1;
        while (cursor < s.size() && s[cursor] == ' ') ++cursor;
        std::string value;
        if (cursor < s.size() && (s[cursor] == '"' || s[cursor] == '\'')) {
            const char quote = s[cursor++];
            bool closed = false;
            while (cursor < s.size()) {
                if (s[cursor] == quote) {
                    if (cursor + 1 < s.size() && s[cursor + 1] == quote) {
                        value += quote;
                        cursor += 2;
                        continue;
                    }
                    ++cursor;
                    closed = true;
                    break;
                }
                value += s[cursor++];
            }
            const std::size_t end = s.find(';', cursor);
            const std::string rest =
                s.substr(cursor, end == std::string::npos ? std::string::npos : end - cursor);
            if (!closed || !TrimBlanks(rest).empty()) {
                throw CompanyDatabaseError("연결 문자열을 읽을 수 없습니다: " + s,
                                           DatabaseProblem::Other);
            }
            pos = end == std::string::npos ? s.size() : end + 1;
        } else {
            const std::size_t end = s.find(';', cursor);
            value = TrimBlanks(
                s.substr(cursor, end == std::string::npos ? std::string::npos : end - cursor));
            pos = end == std::string::npos ? s.size() : end + 1;
        }
        if (SameText(key, "Data Source")) {
            params.dataSource = value;
            haveSource = true;
        } else if (SameText(key, "Mode")) {
            if (SameText(value, "Share Deny None")) {
                params.mode = CompanyShareMode::DenyNone;
            } else if (SameText(value, "Share Exclusive")) {
                params.mode = CompanyShareMode::Exclusive;
            } else {
                throw CompanyDatabaseError("지원하지 않는 공유 방식입니다: " + value,
                                           DatabaseProblem::Other);
            }
        }
    }
    if (!haveSource || params.dataSource.empty()) {
        throw CompanyDatabaseError("연결 문자열에 데이터베이스 파일이 없습니다: " + s,
                                   DatabaseProblem::Other);
    }
    return params;
}

std::string QuoteConnectionValue(const std::string& value) {
    const bool plain =
        value.find_first_of(";\"'") == std::string::npos && TrimBlanks(value) == value;
    if (plain) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

CompanyConnection::CompanyConnection(const std::string& connectionString,
                                     std::chrono::milliseconds busyTimeout) {
    const CompanyConnectionParams params = ParseCompanyConnectionString(connectionString);
    dataSource_ = params.dataSource;
    RefuseOtherFormats(dataSource_, false);
    connection_ = EngineFor(dataSource_).Open(dataSource_, params.mode, busyTimeout);
}

CompanyDataset CompanyConnection::OpenDataset(const std::string& commandText,
                                              TCommandType commandType) {
    std::string sql;
    switch (commandType) {
        case cmdText:
            sql = commandText;
            break;
        case cmdTable: {
            std::string quoted = "\"";
            for (char c : UnquoteTableName(commandText)) {
                if (c == '"') quoted += '"';
                quoted += c;
            }
            sql = "SELECT * FROM " + quoted + "\"";
            break;
        }
        case cmdStoredProc:
            throw CompanyDatabaseError("저장 프로시저는 지원하지 않습니다: " + commandText,
                                       DatabaseProblem::Other);
    }
    return CompanyDataset(connection_->Query(sql));
}

void CompanyConnection::Execute(const std::string& sql) {
    connection_->Execute(sql);
}

std::vector<std::string> CompanyConnection::ColumnNames(const std::string& table) {
    return connection_->ColumnNames(table);
}

bool CompanyConnection::HasColumn(const std::string& table, const std::string& column) {
    const std::vector<std::string> names = ColumnNames(table);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return SameText(name, column); });
}

void CompanyConnection::CompactInto(const std::string& destFile) {
    connection_->CompactInto(destFile, {});
}

CompanyDataset::CompanyDataset(std::unique_ptr<EngineCursor> cursor) : cursor_(std::move(cursor)) {
    eof_ = !cursor_->Step();
}

CompanyDataset::~CompanyDataset() = default;

void CompanyDataset::Next() {
    // Stepping past the end would start the query over.
    if (eof_) return;
    try {
        eof_ = !cursor_->Step();
    } catch (...) {
        eof_ = true;
        throw;
    }
}

int CompanyDataset::FieldCount() const {
    return cursor_->ColumnCount();
}

std::string CompanyDataset::FieldName(int field) const {
    if (field < 0 || field >= FieldCount()) {
        throw CompanyDatabaseError("필드 번호가 범위를 벗어났습니다: " + std::to_string(field),
                                   DatabaseProblem::Other);
    }
    return cursor_->ColumnName(field);
}

void CompanyDataset::CheckField(int field) const {
    if (eof_) throw CompanyDatabaseError("읽을 행이 없습니다.", DatabaseProblem::Other);
    if (field < 0 || field >= FieldCount()) {
        throw CompanyDatabaseError("필드 번호가 범위를 벗어났습니다: " + std::to_string(field),
                                   DatabaseProblem::Other);
    }
}

bool CompanyDataset::IsNull(int field) const {
    CheckField(field);
    return cursor_->IsNull(field);
}

std::string CompanyDataset::AsString(int field) const {
    CheckField(field);
    return cursor_->Text(field);
}

std::int64_t CompanyDataset::AsInteger(int field) const {
    CheckField(field);
    return cursor_->Integer(field);
}

void CompactCompanyDatabase(const std::string& sourceConnection,
                            const std::string& destConnection) {
    const CompanyConnectionParams dest = ParseCompanyConnectionString(destConnection);
    CompanyConnection source(sourceConnection);
    source.CompactInto(dest.dataSource);
}

void CopyCompanyDatabaseFile(const std::string& source, const std::string& dest) {
    EngineFor(source).CopyFile(source, dest);
}

void SnapshotCompanyDatabase(const std::string& source, const std::string& dest,
                             const StopQuery& stop) {
    RefuseOtherFormats(source, true);
    EngineFor(source).Snapshot(source, dest, stop);
}

std::optional<std::string> ReadDatabaseFileText(const std::string& file, const std::string& sql) {
    return EngineFor(file).ReadFileText(file, sql);
}

void CheckCompanyDatabaseFile(const std::string& file, const StopQuery& stop) {
    RefuseOtherFormats(file, true);
    EngineFor(file).Check(file, stop);
}

void ReplaceCompanyDatabase(const std::string& staged, const std::string& target,
                            const ReplaceSteps& steps, const StopQuery& stop) {
    const DatabaseFormat there = DatabaseFileFormat(target);
    const DatabaseFormat arriving = DatabaseFileFormat(staged);
    if (there != arriving && IsCompanyDatabaseFormat(there) && IsCompanyDatabaseFormat(arriving)) {
        ReplaceAcrossEngines(staged, target, steps, stop);
        return;
    }
    // The database there decides how it is replaced; where there is none, the new one does.
    const std::string& decides = there == DatabaseFormat::Empty ? staged : target;
    EngineFor(decides).Replace(staged, target, steps, stop);
}

void ReplaceCompanyDatabase(const std::string& staged, const std::string& target,
                            const StopQuery& stop) {
    ReplaceCompanyDatabase(staged, target, ReplaceSteps{}, stop);
}

bool OpenedByAnotherProcess(const std::string& file, bool countThisProcess) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return false;
    const std::string self = countThisProcess ? std::string() : std::to_string(::getpid());
    std::error_code ec;
    for (fs::directory_iterator process("/proc", ec), end; !ec && process != end;
         process.increment(ec)) {
        const std::string pid = process->path().filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(process->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            struct stat open {};
            if (::stat(fd->path().c_str(), &open) == 0 && open.st_dev == wanted.st_dev &&
                open.st_ino == wanted.st_ino) {
                return true;
            }
        }
    }
    return false;
}

std::string CompanyDatabaseWriteRefusal(const std::string& file) {
    return EngineFor(file).WriteRefusal();
}

bool CompanyDatabaseInUse(const std::string& file) {
    return EngineFor(file).InUse(file);
}

std::string PendingChangesFile(const std::string& databaseFile) {
    // Told by name, not by the file's header: this is asked while the database is locked, and
    // reading the header would open and close the file, which drops every lock this process
    // has on it.
    for (const DatabaseEngine* engine : DatabaseEngines()) {
        const std::string pending = engine->PendingChangesFile(databaseFile);
        std::error_code absent;
        if (!pending.empty() && fs::exists(fs::symlink_status(pending, absent))) return pending;
    }
    return {};
}

bool IsDatabaseCompanionName(const std::string& databaseName, const std::string& name) {
    for (const DatabaseEngine* engine : DatabaseEngines()) {
        for (const std::string& companion : engine->CompanionFiles(databaseName)) {
            if (name == companion) return true;
        }
    }
    return false;
}

}  // namespace tidewell
