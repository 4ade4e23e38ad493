#include "WebFolderTestClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>

#include "platform/CodePage.h"

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
    return ToTextReply(TryUpload(id, password, key, companyName, fileName, content));
}

httplib::Result WebFolderTestClient::TryUpload(const std::string& id, const std::string& password,
                                               const std::string& key,
                                               const std::string& companyName,
                                               const std::string& fileName,
                                               const std::string& content) {
    const httplib::MultipartFormDataItems items{
        {"userid", Utf8ToAnsi(id), "", ""},
        {"password", Utf8ToAnsi(password), "", ""},
        {"companykey", key, "", ""},
        {"companyname", Utf8ToAnsi(companyName), "", ""},
        {"file", content, Utf8ToAnsi(fileName), "application/octet-stream"},
    };
    return client_.Post("/tidewellweb/gwupload.asp", items);
}

httplib::Result WebFolderTestClient::Download(const std::string& id, const std::string& password,
                                              const std::string& key) {
    return client_.Post("/tidewellweb/gwdownload.asp",
                        EncodeForm({{"userid", id}, {"password", password}, {"companykey", key}}),
                        "application/x-www-form-urlencoded");
}

}  // namespace tidewell::test
