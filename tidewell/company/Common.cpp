#include "company/Common.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/DosTime.h"
#include "platform/Error.h"
#include "platform/Identity.h"
#include "platform/TempFolder.h"
#include "platform/UserInterface.h"
#include "platform/Version.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// Where the company key lives, and the statements that make room for it and store it.
constexpr const char* kKeyTable = "[ver]";
constexpr const char* kKeyColumn = "dbkey";
constexpr const char* kAddKeyColumn = "alter table [ver] add dbkey nvarchar(32)";

std::string StoreKeyStatement(const std::string& key) {
    return "update [ver] set dbkey = '" + key + "'";
}

// A database this program only reads and that holds no key: no key is made up for it, since it
// could never be stored there. The key is made where the host product writes the database. A
// database that does not even open as a company's says why instead.
std::string NoKeyMadeHere(const std::string& folder, const std::string& why) {
    if (std::string problem = CompanyDatabaseProblem(folder); !problem.empty()) return problem;
    return "사업장 데이터베이스에 사업장 키가 없습니다(" + CompanyDatabaseFile(folder) + "). " +
           why +
           ". 재고 프로그램이 이 데이터베이스를 쓰는 컴퓨터에서 Tidewell로 이 사업장을 추가하면 "
           "사업장 키가 만들어지니, 그 뒤에 다시 추가해 주세요.";
}

// value / unit with one decimal, rounded half away from zero, for value >= 0.
std::string FormatTenths(std::int64_t value, std::int64_t unit, const char* suffix) {
    const std::int64_t whole = value / unit;
    const std::int64_t rest = value % unit;
    const std::int64_t tenths = whole * 10 + (rest * 10 + unit / 2) / unit;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + suffix;
}

}  // namespace

std::int64_t GetPathSize(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error) return 0;
    if (fs::is_regular_file(status)) {
        const auto size = fs::file_size(path, error);
        return error ? 0 : static_cast<std::int64_t>(size);
    }
    if (!fs::is_directory(status)) return 0;
    std::int64_t total = 0;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        total += GetPathSize(it->path().string());
    }
    return total;
}

bool GetFileModifiedTime(const std::string& fileName, TDateTime& time) {
    const auto packed = ReadFileDosDateTime(fileName);
    if (!packed) return false;
    const auto value = UnpackDosDateTime(*packed);
    if (!value) return false;
    time = *value;
    return true;
}

void SetFileModifiedTime(const std::string& fileName, TDateTime time) {
    if (const auto packed = PackDosDateTime(time)) WriteFileDosDateTime(fileName, *packed);
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

std::string ShellLongPath(const std::string& path) {
    std::error_code error;
    if (path.empty() || !fs::exists(path, error)) return {};
    std::string result = fs::absolute(path, error).lexically_normal().string();
    if (error) return {};
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string GetTempFolder(const WorkPlacesInput& places) {
    return ShellLongPath(places.tempFolder.string());
}

std::string EnsureWorkFolder(const WorkPlacesInput& places) {
    return EnsureWorkPlaces(places).work.string();
}

std::string FormatSize(std::int64_t bytes) {
    constexpr std::int64_t kMiB = std::int64_t{1} << 20;
    constexpr std::int64_t kGiB = std::int64_t{1} << 30;
    if (bytes < kMiB) {
        // Negative counts land here too and keep their sign.
        const std::int64_t magnitude = bytes < 0 ? -bytes : bytes;
        const std::int64_t kb = (magnitude + 512) / 1024;
        return std::to_string(bytes < 0 ? -kb : kb) + "KB";
    }
    if (bytes < kGiB) return FormatTenths(bytes, kMiB, "MB");
    return FormatTenths(bytes, kGiB, "GB");
}

void GetAppVersion(std::uint16_t& major, std::uint16_t& minor, std::uint16_t& release,
                   std::uint16_t& build) {
    major = TIDEWELL_VERSION_MAJOR;
    minor = TIDEWELL_VERSION_MINOR;
    release = TIDEWELL_VERSION_RELEASE;
    build = TIDEWELL_VERSION_BUILD;
}

std::string GetVersionText() {
    std::uint16_t major, minor, release, build;
    GetAppVersion(major, minor, release, build);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", major, minor, release, build);
    return text;
}

void ShowAppMessage(const std::string& text) {
    CurrentUserInterface().ShowMessageBox(
        {kApplicationTitle, text, MessageIcon::None, MessageButtons::Ok, MessageResult::Ok});
}

std::string ApplicationErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

std::string CompanyDatabaseFile(const std::string& folder) {
    return folder + "/" + kCompanyDatabaseName;
}

bool GetCompanyDatabaseTime(const std::string& folder, TDateTime& time) {
    const std::string database = CompanyDatabaseFile(folder);
    TDateTime main = 0;
    if (!GetFileModifiedTime(database, main)) return false;
    const std::string pendingFile = PendingChangesFile(database);
    TDateTime pending = 0;
    if (!pendingFile.empty() && GetPathSize(pendingFile) > 0 &&
        GetFileModifiedTime(pendingFile, pending) && pending > main) {
        main = pending;
    }
    time = main;
    return true;
}

void StampCompanyDatabase(const std::string& folder, TDateTime time) {
    StampDatabaseFile(CompanyDatabaseFile(folder), time);
}

void StampDatabaseFile(const std::string& file, TDateTime time) {
    SetFileModifiedTime(file, time);
    const std::string pending = PendingChangesFile(file);
    if (!pending.empty() && GetPathSize(pending) > 0) SetFileModifiedTime(pending, time);
}

FileSignature DatabaseSignature(const std::string& file) {
    FileSignature signature = SignatureOf(file);
    const std::string pendingFile = PendingChangesFile(file);
    if (pendingFile.empty()) return signature;
    const FileSignature pending = SignatureOf(pendingFile);
    if (signature.size >= 0 && pending.size > 0) {
        signature.modifiedNs = std::max(signature.modifiedNs, pending.modifiedNs);
        signature.size += pending.size;
    }
    return signature;
}

std::string DatabaseConnectionString(const std::string& file, const std::string& mode) {
    // The file name is quoted only when it holds a ';' or a quote, which would otherwise end
    // or bend the value; every ordinary path is written as it is.
    return std::string("Provider=") + kCompanyProvider +
           ";Data Source=" + QuoteConnectionValue(file) +
           ";User ID=Admin;Jet OLEDB:Database Password=" + kCompanyDatabasePassword +
           ";Mode=" + mode + ";";
}

std::string CompanyConnectionString(const std::string& folder, const std::string& mode) {
    return DatabaseConnectionString(CompanyDatabaseFile(folder), mode);
}

CompanyDataset OpenCompanyQuery(const std::string& folder, const std::string& commandText,
                                TCommandType commandType) {
    CompanyConnection connection(CompanyConnectionString(folder, kShareDenyNone));
    return connection.OpenDataset(commandText, commandType);
}

void ExecCompanySql(const std::string& folder, const std::string& sql) {
    CompanyConnection connection(CompanyConnectionString(folder, kShareDenyNone));
    try {
        connection.Execute(sql);
    } catch (const std::exception& error) {
        ShowAppMessage(std::string("Error(Dbacc.ExecQuery):\n\n") + error.what() + "\n\n" + sql +
                       "\n");
    }
}

std::string ReadCompanyString(const std::string& folder, const std::string& sql) {
    CompanyDataset dataset = OpenCompanyQuery(folder, sql, cmdText);
    if (dataset.Eof() || dataset.FieldCount() < 1) {
        throw Exception("데이터베이스에서 문자열값을 읽는 도중 오류가 발생하였습니다.");
    }
    return dataset.AsString(0);
}

std::string ReadCompanyStringDef(const std::string& folder, const std::string& sql,
                                 const std::string& def) {
    try {
        return ReadCompanyString(folder, sql);
    } catch (...) {
        return def;
    }
}

bool CompanyFieldExists(const std::string& folder, const std::string& table,
                        const std::string& field) {
    CompanyConnection connection(CompanyConnectionString(folder, kShareDenyNone));
    return connection.HasColumn(table, field);
}

std::string NewCompanyKey(const Clock& clock) {
    std::string seed;
    for (char c : NewGuidText()) {
        if (c != '-' && c != '{' && c != '}') seed += c;
    }
    seed += FormatDateTime("yyyymmddhhnnsszzz", clock.Now());
    return Md5Hex(seed);
}

std::string EnsureCompanyKey(const std::string& folder, const Clock& clock) {
    std::string key = ReadCompanyKey(folder);
    if (!key.empty()) return key;
    if (const std::string why = CompanyDatabaseWriteRefusal(CompanyDatabaseFile(folder));
        !why.empty()) {
        throw CompanyDatabaseError(NoKeyMadeHere(folder, why), DatabaseProblem::ReadOnly);
    }
    key = NewCompanyKey(clock);
    if (!CompanyFieldExists(folder, kKeyTable, kKeyColumn)) ExecCompanySql(folder, kAddKeyColumn);
    ExecCompanySql(folder, StoreKeyStatement(key));
    return key;
}

TStoredCompanyKey EnsureStoredCompanyKey(const std::string& folder, const Clock& clock) {
    TStoredCompanyKey result;
    result.Key = ReadCompanyKey(folder);
    if (!result.Key.empty()) {
        result.Stored = true;
        return result;
    }
    if (const std::string why = CompanyDatabaseWriteRefusal(CompanyDatabaseFile(folder));
        !why.empty()) {
        result.ReadOnly = true;
        result.Problem = NoKeyMadeHere(folder, why);
        return result;
    }
    result.Key = NewCompanyKey(clock);
    try {
        CompanyConnection connection(CompanyConnectionString(folder, kShareDenyNone));
        if (!connection.HasColumn(kKeyTable, kKeyColumn)) connection.Execute(kAddKeyColumn);
        connection.Execute(StoreKeyStatement(result.Key));
    } catch (const std::exception& error) {
        result.Problem = error.what();
        return result;
    }
    result.Stored = ReadCompanyKey(folder) == result.Key;
    if (!result.Stored) {
        result.Problem = "사업장 데이터베이스의 ver 표에 행이 없어 사업장 키를 저장할 수 없습니다.";
    }
    return result;
}

std::string ReadCompanyKey(const std::string& folder) {
    return ReadCompanyStringDef(folder, kCompanyKeyQuery, "");
}

std::string CompanyDatabaseProblem(const std::string& folder) {
    try {
        CompanyConnection connection(CompanyConnectionString(folder, kShareDenyNone));
        return {};
    } catch (const std::exception& error) {
        return error.what();
    }
}

}  // namespace tidewell
