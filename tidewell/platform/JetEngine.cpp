#include "platform/JetEngine.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/FileKit.h"
#include "platform/JetDatabase.h"
#include "platform/JetLockFile.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

constexpr const char* kReadsOnly =
    "이 컴퓨터에서는 Jet 4 데이터베이스를 읽기만 하고 고쳐 쓰지 않습니다";

DatabaseProblem ProblemOf(JetProblem problem) {
    switch (problem) {
        case JetProblem::NotJet4:
        case JetProblem::NotCompany:
            return DatabaseProblem::NotADatabase;
        case JetProblem::Damaged:
            return DatabaseProblem::Damaged;
        case JetProblem::InUse:
        case JetProblem::Changed:
            return DatabaseProblem::Busy;
        case JetProblem::FileAccess:
            return DatabaseProblem::CannotOpen;
        case JetProblem::ReaderMissing:
            break;
    }
    return DatabaseProblem::Other;
}

// The reason, followed by the name the caller knows the file by (not a copy's or a staging
// file's), as the company-database routines word their errors.
CompanyDatabaseError Translate(const JetDatabaseError& error, const std::string& file) {
    const std::string& reason = error.reason();
    return CompanyDatabaseError(reason.empty() ? std::string(error.what()) : reason + ": " + file,
                                ProblemOf(error.problem()));
}

CompanyDatabaseError ReadOnly(const std::string& what, const std::string& file) {
    return CompanyDatabaseError(what + ": " + file, DatabaseProblem::ReadOnly);
}

bool SameLetters(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Reads statements one word or name at a time.
class StatementScanner {
public:
    explicit StatementScanner(std::string text) : text_(std::move(text)) {}

    bool AtEnd() {
        SkipBlanks();
        return at_ == text_.size();
    }
    bool Word(const char* word) {
        SkipBlanks();
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[at_]))) ++at_;
        return SameLetters(text_.substr(start, at_ - start), word);
    }
    // A name, bracketed, quoted or bare; false when there is none.
    bool Name(std::string& name) {
        SkipBlanks();
        if (at_ == text_.size()) return false;
        const char open = text_[at_];
        const char close = open == '[' ? ']' : open;
        if (open == '[' || open == '"' || open == '`') {
            const std::size_t end = text_.find(close, at_ + 1);
            if (end == std::string::npos || end == at_ + 1) return false;
            name = text_.substr(at_ + 1, end - at_ - 1);
            at_ = end + 1;
            return true;
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_]))) {
            if (std::string_view(",*()=;'\"[]`").find(text_[at_]) != std::string_view::npos) {
                return false;
            }
            ++at_;
        }
        name = text_.substr(start, at_ - start);
        return !name.empty();
    }
    bool Semicolon() {
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == ';') {
            ++at_;
            return true;
        }
        return false;
    }

private:
    void SkipBlanks() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }

    std::string text_;
    std::size_t at_ = 0;
};

// At most one row: the reader reads no further, so a cursor asked for a second row says so
// instead of pretending the table ends there.
class JetFirstRowCursor : public EngineCursor {
public:
    JetFirstRowCursor(std::string file, std::string column, std::optional<std::string> value)
        : file_(std::move(file)), column_(std::move(column)), value_(std::move(value)) {}

    bool Step() override {
        if (!stepped_) {
            stepped_ = true;
            return value_.has_value();
        }
        if (value_) {
            throw CompanyDatabaseError(
                "Jet 4 데이터베이스에서는 이 컴퓨터에서 첫 행만 읽을 수 있습니다: " + file_,
                DatabaseProblem::Other);
        }
        return false;
    }
    int ColumnCount() const override { return 1; }
    std::string ColumnName(int) const override { return column_; }
    // The reader gives a null as empty text.
    bool IsNull(int) const override { return false; }
    std::string Text(int) const override { return value_.value_or(""); }
    std::int64_t Integer(int) const override {
        return std::strtoll(value_.value_or("").c_str(), nullptr, 10);
    }

private:
    std::string file_;
    std::string column_;
    std::optional<std::string> value_;
    bool stepped_ = false;
};

class JetConnection : public EngineConnection {
public:
    JetConnection(std::string file, CompanyShareMode mode) : file_(std::move(file)) {
        if (mode == CompanyShareMode::Exclusive && JetDatabaseInUse(file_)) {
            throw CompanyDatabaseError(
                "다른 프로그램이 데이터베이스를 사용하고 있어 열 수 없습니다: " + file_,
                DatabaseProblem::Busy);
        }
        // Opening reads the catalogue and the version table, so that a damaged file (or one
        // that is no company's) fails here, as callers expect of any database.
        try {
            CheckJetDatabase(file_);
        } catch (const JetDatabaseError& error) {
            throw Translate(error, file_);
        }
    }

    std::unique_ptr<EngineCursor> Query(const std::string& sql) override {
        std::string table, column;
        if (!ParseSingleColumnSelect(sql, table, column)) {
            throw CompanyDatabaseError(
                "이 컴퓨터에서는 Jet 4 데이터베이스에서 한 테이블의 한 열만 읽을 수 있습니다 (" +
                    sql + "): " + file_,
                DatabaseProblem::Other);
        }
        try {
            return std::make_unique<JetFirstRowCursor>(file_, column,
                                                       JetFirstValue(file_, table, column));
        } catch (const JetDatabaseError& error) {
            throw Translate(error, file_);
        }
    }

    void Execute(const std::string&) override { throw ReadOnly(kReadsOnly, file_); }

    std::vector<std::string> ColumnNames(const std::string& table) override {
        try {
            return JetColumnNames(file_, UnquoteTableName(table));
        } catch (const JetDatabaseError& error) {
            if (error.problem() == JetProblem::NotCompany) return {};  // no such table
            throw Translate(error, file_);
        }
    }

    void CompactInto(const std::string&, const StopQuery&) override {
        throw ReadOnly("이 컴퓨터에는 Jet 4 데이터베이스를 압축하는 엔진이 없습니다", file_);
    }

private:
    std::string file_;
};

}  // namespace

bool ParseSingleColumnSelect(const std::string& sql, std::string& table, std::string& column) {
    StatementScanner scan(sql);
    std::string columnName, tableName;
    if (!scan.Word("select") || !scan.Name(columnName) || !scan.Word("from") ||
        !scan.Name(tableName)) {
        return false;
    }
    scan.Semicolon();
    if (!scan.AtEnd()) return false;
    table = tableName;
    column = columnName;
    return true;
}

std::unique_ptr<EngineConnection> JetEngine::Open(const std::string& file, CompanyShareMode mode,
                                                  std::chrono::milliseconds) const {
    return std::make_unique<JetConnection>(file, mode);
}

void JetEngine::Snapshot(const std::string& source, const std::string& dest,
                         const StopQuery& stop) const {
    try {
        CopyJetDatabaseFile(source, dest, stop);
        ScopedFileRemoval removeCopy(dest);
        // What is packed is what was checked: the copy itself.
        CheckJetDatabase(dest, stop);
        removeCopy.Keep();
    } catch (const JetDatabaseError& error) {
        throw Translate(error, source);
    }
}

std::optional<std::string> JetEngine::ReadFileText(const std::string& file,
                                                   const std::string& sql) const {
    std::string table, column;
    if (!ParseSingleColumnSelect(sql, table, column)) return std::nullopt;
    return ReadJetFirstValue(file, table, column);
}

void JetEngine::Check(const std::string& file, const StopQuery& stop) const {
    try {
        CheckJetDatabase(file, stop);
    } catch (const JetDatabaseError& error) {
        throw Translate(error, file);
    }
}

void JetEngine::Replace(const std::string& staged, const std::string& target,
                        const ReplaceSteps& steps, const StopQuery& stop) const {
    JetReplaceSteps jet;
    jet.copyFile = steps.CopyFile;
    if (steps.KeepCurrent) {
        jet.keepCurrent = [&](const fs::path& copy) {
            if (copy.empty()) return steps.KeepCurrent(nullptr);
            FileByteSource current(copy.string());
            steps.KeepCurrent(&current);
        };
    }
    jet.beforeReplace = steps.BeforeReplace;
    if (steps.SettleNew) {
        jet.settleNew = [&](const fs::path& file) { steps.SettleNew(file.string()); };
    }
    try {
        ReplaceJetDatabaseFile(staged, target, jet, stop);
    } catch (const JetDatabaseError& error) {
        throw Translate(error, target);
    }
}

void JetEngine::CopyFile(const std::string& source, const std::string& dest) const {
    try {
        CopyJetDatabaseFile(source, dest);
    } catch (const JetDatabaseError& error) {
        throw Translate(error, source);
    }
}

bool JetEngine::InUse(const std::string& file) const {
    return JetDatabaseInUse(file);
}

std::vector<std::string> JetEngine::CompanionFiles(const std::string& file) const {
    return {JetLockFileOf(file).string()};
}

std::string JetEngine::WriteRefusal() const {
    return kReadsOnly;
}

}  // namespace tidewell
