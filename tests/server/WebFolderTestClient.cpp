#include "WebFolderTestClient.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <set>

#include "platform/CodePage.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

bool SameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool TextReply::Has(std::string_view key) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const auto& l) { return SameKey(l.first, key); });
}

std::string TextReply::Value(std::string_view key) const {
    for (const auto& [name, value] : lines) {
        if (SameKey(name, key)) return value;
    }
    return {};
}

std::int64_t TextReply::Number(std::string_view key) const {
    const std::string text = Value(key);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string EncodeForm(const Fields& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty()) body += '&';
        body += name + "=";
        for (unsigned char c : Utf8ToAnsi(value)) {
            if (std::isalnum(c) && c < 0x80) {
                body += static_cast<char>(c);
            } else {
                static constexpr char kHex[] = "0123456789ABCDEF";
                body += '%';
                body += kHex[c >> 4];
                body += kHex[c & 15];
            }
        }
    }
    return body;
}

TextReply ToTextReply(const httplib::Result& result) {
    TextReply reply;
    if (!result) {
        ADD_FAILURE() << "no reply: " << httplib::to_string(result.error());
        return reply;
    }
    reply.httpStatus = result->status;
    reply.contentType = result->get_header_value("Content-Type");
    reply.body = result->body;
    std::string_view rest = reply.body;
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        const auto line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        reply.lines.emplace_back(AnsiToUtf8(line.substr(0, eq)), AnsiToUtf8(line.substr(eq + 1)));
    }
    return reply;
}

WebFolderTestClient::WebFolderTestClient(const WebFolderService& service)
    : client_(service.Host(), service.Port()) {
    client_.set_read_timeout(60);
    client_.set_write_timeout(60);
}

TextReply WebFolderTestClient::PostForm(const std::string& path, const std::string& body) {
    return ToTextReply(client_.Post(path, body, "application/x-www-form-urlencoded"));
}

TextReply WebFolderTestClient::Command(const std::string& command, const std::string& id,
                                       const std::string& password, const std::string& key) {
    Fields fields{{"cmd", command}, {"userid", id}, {"password", password}};
    if (!key.empty()) fields.emplace_back("companykey", key);
    return PostForm("/tidewellweb/gateway.asp", EncodeForm(fields));
}

TextReply WebFolderTestClient::Upload(const std::string& id, const std::string& password,
                                      const std::string& key, const std::string& companyName,
                                      const std::string& fileName, const std::string& content) {
    const httplib::MultipartFormDataItems items{
        {"userid", Utf8ToAnsi(id), "", ""},
        {"password", Utf8ToAnsi(password), "", ""},
        {"companykey", key, "", ""},
        {"companyname", Utf8ToAnsi(companyName), "", ""},
        {"file", content, Utf8ToAnsi(fileName), "application/octet-stream"},
    };
    return ToTextReply(client_.Post("/tidewellweb/gwupload.asp", items));
}

httplib::Result WebFolderTestClient::Download(const std::string& id, const std::string& password,
                                              const std::string& key) {
    return client_.Post("/tidewellweb/gwdownload.asp",
                        EncodeForm({{"userid", id}, {"password", password}, {"companykey", key}}),
                        "application/x-www-form-urlencoded");
}

std::int64_t ArchiveCost(const fs::path& dataFolder, std::int64_t size) {
    struct statvfs st {};
    EXPECT_EQ(::statvfs((dataFolder / "archives").c_str(), &st), 0);
    const auto block = static_cast<std::int64_t>(st.f_frsize);
    return (size + block - 1) / block * block + webfolder::kIndexRowCharge;
}

std::vector<IndexRow> ReadIndex(const fs::path& dataFolder) {
    SqliteDatabase db(dataFolder / "webfolder.db", SQLITE_OPEN_READONLY);
    auto rows = db.Prepare(
        "SELECT c.company_key, a.name, a.file, a.size FROM archives a "
        "JOIN companies c ON a.company_id = c.id ORDER BY c.company_key, a.name");
    std::vector<IndexRow> index;
    while (rows.Step()) {
        index.push_back(
            {rows.ColumnText(0), rows.ColumnText(1), rows.ColumnText(2), rows.ColumnInt(3)});
    }
    return index;
}

std::vector<std::string> ArchiveFiles(const fs::path& dataFolder) {
    std::vector<std::string> files;
    const fs::path root = dataFolder / "archives";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_directory() || entry.path().filename() == ".tidewell-archives") continue;
        files.push_back(fs::relative(entry.path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void ExpectIndexMatchesFiles(const fs::path& dataFolder) {
    std::set<std::string> named;
    for (const IndexRow& row : ReadIndex(dataFolder)) {
        const fs::path file = dataFolder / "archives" / row.file;
        ASSERT_TRUE(fs::is_regular_file(file)) << row.file;
        EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file)), row.size) << row.file;
        named.insert(row.file);
    }
    for (const std::string& file : ArchiveFiles(dataFolder)) {
        EXPECT_EQ(named.count(file), 1u) << "file outside the index: " << file;
    }
    EXPECT_TRUE(fs::is_empty(dataFolder / "uploads")) << "an upload was left behind";
}

}  // namespace tidewell::test
