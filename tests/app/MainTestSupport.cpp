#include "MainTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "CompanyMaker.h"
#include "archive/backup.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellGateway.h"

namespace fs = std::filesystem;

namespace tidewell::test {

MainFixture::MainFixture() : service(core.dir / "service") {
    service.AddUser("kim", "pw1234", "김철수", 365, 1LL << 30);
    Restart();
}

MainFixture::~MainFixture() = default;

void MainFixture::Restart() {
    form.reset();
    view = std::make_unique<HeadlessView>();
    form = std::make_unique<TformMain>(*view, Setup());
    form->FormCreate();
    form->FormShow();
}

TSessionSetup MainFixture::Setup() {
    return {&core.hive(), {ServiceEndpoint{service.BaseUrl(), {}}, core.Places()}, &clock};
}

TAccountSetup MainFixture::AccountSetup() {
    return {ServiceEndpoint{service.BaseUrl(), {}}, core.Places(), &core.hive(), &clock};
}

void MainFixture::LogIn(const std::string& id, const std::string& password) {
    view->SetText(Element::Edit1, id);
    view->SetText(Element::Edit2, password);
    form->Button1Click();
}

fs::path MainFixture::MakeCompany(const std::string& folderName, const std::string& name,
                                  TDateTime time, std::int64_t rows) {
    const fs::path folder = core.dir / folderName;
    CompanyRecipe recipe;
    recipe.name = name;
    recipe.rows = rows;
    MakeCompanyFolder(folder.string(), recipe);
    EnsureCompanyKey(folder.string());
    SetFileModifiedTime((folder / "default.mdb").string(), time);
    return folder;
}

std::string MainFixture::MakeWebCompany(const std::string& name, TDateTime time) {
    const fs::path folder = MakeCompany("scratch-" + name, name, time);
    TTidewellUser uploader(AccountSetup());
    uploader.Login("kim", "pw1234");
    auto company = std::make_shared<TTidewellCompany>();
    company->CompanyKey = ReadCompanyKey(folder.string());
    company->CompanyName = name;
    company->LocalPath = folder.string();
    uploader.AddCompany(company);
    uploader.UploadCompany(company->CompanyKey);
    fs::remove_all(folder);
    return company->CompanyKey;
}

void MainFixture::UploadFromElsewhere(const fs::path& folder, TDateTime time,
                                      const std::string& sql) {
    const fs::path elsewhere = core.dir / "elsewhere";
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    fs::copy_file(folder / "default.mdb", elsewhere / "default.mdb");
    if (!sql.empty()) ExecCompanySql(elsewhere.string(), sql);
    SetFileModifiedTime((elsewhere / "default.mdb").string(), time);
    TTidewellUser other(AccountSetup());
    ASSERT_TRUE(other.Login("kim", "pw1234"));
    other.LoadCompanies();
    const std::string key = ReadCompanyKey(folder.string());
    const int index = other.IndexOfCompany(key);
    ASSERT_GE(index, 0);
    other.GetCompany(index)->LocalPath = elsewhere.string();
    ASSERT_EQ(other.UploadCompany(key).Kind, TTransferResult::trDone);
}

void MainFixture::PutInWebFolder(const std::string& key, const std::string& member, TDateTime time,
                                 const std::string& tag) {
    const fs::path dir = core.dir / ("web-" + tag);
    fs::create_directories(dir);
    WriteFile(dir / "default.mdb", member);
    const std::string archive = (dir / (FormatDateTime("yyyymmddhhnnss", time) + ".bck")).string();
    TBackupFile packer;
    ASSERT_TRUE(packer.Backup({(dir / "default.mdb").string()}, archive));
    TAnswerList answer;
    ASSERT_TRUE(
        TTidewellGateway(service.BaseUrl()).UploadFile("kim", "pw1234", key, tag, archive, answer));
}

std::vector<fs::path> MainFixture::StoredArchives() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(service.DataFolder())) {
        if (entry.path().extension() == ".bck") found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    return found;
}

void MainFixture::Register(int slot, const fs::path& folder, const std::string& name) {
    auto key = ProgramKey();
    key.WriteString(CompanySlotValue(slot, "Key"), ReadCompanyKey(folder.string()));
    key.WriteString(CompanySlotValue(slot, "Name"),
                    name.empty() ? folder.filename().string() : name);
    key.WriteString(CompanySlotValue(slot, "Path"), folder.string());
}

int MainFixture::RowOf(const std::string& name) const {
    for (int i = 0; i < form->RowCount(); ++i) {
        if (form->Row(i).Company->CompanyName == name) return i;
    }
    return -1;
}

RegistryKey MainFixture::ProgramKey() {
    return *core.hive().OpenKey(kProgramKey, true);
}

std::vector<std::string> MainFixture::Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : core.ui.boxes) texts.push_back(box.text);
    return texts;
}

std::string ArchiveMember(const fs::path& archive, const fs::path& scratch) {
    fs::remove_all(scratch);
    TBackupFile reader;
    EXPECT_TRUE(reader.Restore(archive.string(), scratch.string()));
    return ReadFile(scratch / "default.mdb");
}

}  // namespace tidewell::test
