#pragma once

#include <httplib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ArchiveIndex.h"
#include "TestStore.h"
#include "TestSupport.h"
#include "WebFolderService.h"

namespace tidewell::test {

// A text reply read the way the client reads it: CR LF lines, KEY=value, first match of a key
// regardless of letter case, CP949 converted to UTF-8.
struct TextReply {
    int httpStatus = 0;
    std::string contentType;
    std::string body;  // raw bytes
    std::vector<std::pair<std::string, std::string>> lines;

    bool Has(std::string_view key) const;
    std::string Value(std::string_view key) const;
    std::int64_t Number(std::string_view key) const;
    bool Ok() const { return Value("STATUS") == "0"; }
};

using Fields = std::vector<std::pair<std::string, std::string>>;

// Percent-encodes like the client: CP949 bytes, everything but ASCII letters and digits as %XX.
std::string EncodeForm(const Fields& fields);

// What each company costs beyond its archives in the usage and the quota.
inline constexpr std::int64_t kCompanyCharge = webfolder::kCompanyCharge;

inline constexpr char kKey1[] = "0123456789abcdef0123456789abcdef";
inline constexpr char kKey2[] = "fedcba9876543210fedcba9876543210";

// Talks to a WebFolderService with cpp-httplib's client.
class WebFolderTestClient {
public:
    explicit WebFolderTestClient(const WebFolderService& service);

    TextReply PostForm(const std::string& path, const std::string& body);
    TextReply Command(const std::string& command, const std::string& id,
                      const std::string& password, const std::string& key = "");
    // The four fields and the file, in the client's order; companyName in UTF-8.
    TextReply Upload(const std::string& id, const std::string& password, const std::string& key,
                     const std::string& companyName, const std::string& fileName,
                     const std::string& content);
    // The same, for a service that may be gone: no reply is no failure here.
    httplib::Result TryUpload(const std::string& id, const std::string& password,
                              const std::string& key, const std::string& companyName,
                              const std::string& fileName, const std::string& content);
    httplib::Result Download(const std::string& id, const std::string& password,
                             const std::string& key);

    httplib::Client& http() { return client_; }

private:
    httplib::Client client_;
};

TextReply ToTextReply(const httplib::Result& result);

// A running service on a fresh store of the test's back end, the account demo / demo1234 (no
// end date, the default quota) and a client for it.
class WebFolderFixture : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        service = StartService();
        client = std::make_unique<WebFolderTestClient>(*service);
        service->AddUser("demo", "demo1234", "데모 사용자");
    }

    // A file name as the client sends it: its full local path.
    static std::string ClientPath(const std::string& name) {
        return "C:\\Documents and Settings\\kim\\Local Settings\\Temp\\Tidewell\\" + name;
    }

    std::unique_ptr<WebFolderService> service;
    std::unique_ptr<WebFolderTestClient> client;
};

}  // namespace tidewell::test
