#pragma once

// One account on a real loopback service, shared by the tests of the account and its transfers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CompanyMaker.h"
#include "TestSupport.h"
#include "WebFolderService.h"
#include "company/Common.h"
#include "gateway/TidewellGateway.h"
#include "platform/CompanyDatabase.h"
#include "platform/Sqlite.h"

namespace tidewell {

namespace fs = std::filesystem;

inline constexpr std::int64_t kQuota = 1LL << 30;

inline std::string Stamp(TDateTime t) {
    return FormatDateTime("yyyymmddhhnnss", t);
}

inline TDateTime DatabaseTime(const fs::path& folder) {
    TDateTime t = 0;
    EXPECT_TRUE(GetFileModifiedTime((folder / "default.mdb").string(), t));
    return t;
}

inline std::int64_t InventoryRows(const fs::path& folder) {
    SqliteDatabase db(folder / "default.mdb", SQLITE_OPEN_READONLY);
    auto count = db.Prepare("SELECT count(*) FROM inventory");
    count.Step();
    return count.ColumnInt(0);
}

// What a folder holds; in the work folder the operation lock stays for good and is no file
// of an operation.
inline std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().filename() != ".lock") files.push_back(entry.path());
    }
    return files;
}

// An account on this computer as the fixture keeps it: its places and settings, and the service
// at url.
inline TAccountSetup SetupFor(test::CoreFixture& fixture, const std::string& url = {}) {
    return {ServiceEndpoint{url.empty() ? std::string(kDefaultServiceURL) : url, {}},
            fixture.Places(), &fixture.hive(), &SystemClock()};
}

struct ProgressEvent {
    std::string Caption, Message;
    std::int64_t Total, Done;
    int Percent;
};

// One account on a real loopback service, a private work folder and hive, and helpers that
// make company folders the way the host product leaves them.
class AccountTest : public ::testing::Test {
protected:
    AccountTest() : service(fixture.dir / "service") {
        service.AddUser("kim", "pw1234", "김철수", 365, kQuota);
        fixture.hive().OpenKey(kProgramKey, true);
    }

    // An account of this computer: the loopback service, the fixture's places and settings.
    TAccountSetup AccountSetup() { return SetupFor(fixture, service.BaseUrl()); }

    fs::path MakeCompany(const std::string& folderName, const std::string& name,
                         std::int64_t rows = 200) {
        const fs::path folder = fixture.dir / folderName;
        CompanyRecipe recipe;
        recipe.name = name;
        recipe.rows = rows;
        recipe.seed = static_cast<std::uint32_t>(rows);
        MakeCompanyFolder(folder.string(), recipe);
        SetFileModifiedTime((folder / "default.mdb").string(),
                            EncodeDateTime({2024, 5, 6, 7, 8, 10, 0}));
        return folder;
    }

    // The company as the list makes it for a folder that exists only here.
    TTidewellCompanyPtr AddLocal(TTidewellUser& account, const fs::path& folder) {
        auto company = std::make_shared<TTidewellCompany>();
        company->LocalPath = folder.string();
        company->CompanyKey = EnsureCompanyKey(folder.string());
        company->CompanyName = ReadCompanyStringDef(folder.string(), kCompanyNameQuery, "");
        account.AddCompany(company);
        return company;
    }

    fs::path WorkFolder() const { return fixture.WorkFolder(); }

    void LogIn(TTidewellUser& account) {
        account.Service.URL = service.BaseUrl();
        ASSERT_TRUE(account.Login("kim", "pw1234"));
    }

    test::CoreFixture fixture;
    test::WebFolderService service;
    TTidewellUser user{AccountSetup()};
};

}  // namespace tidewell
