#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "CompanyMaker.h"
#include "TestSupport.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

class LocalCompanyListTest : public testing::Test {
protected:
    RegistryKey Key() { return *core.hive().OpenKey(kProgramKey, true); }
    void Slot(int slot, const std::string& key, const std::string& name, const std::string& path) {
        RegistryKey k = Key();
        if (!key.empty()) k.WriteString(CompanySlotValue(slot, "Key"), key);
        if (!name.empty()) k.WriteString(CompanySlotValue(slot, "Name"), name);
        if (!path.empty()) k.WriteString(CompanySlotValue(slot, "Path"), path);
    }
    std::string Company(const std::string& name, const CompanyRecipe& recipe = {}) {
        const std::string folder = (core.dir / name).string();
        MakeCompanyFolder(folder, recipe);
        return folder;
    }
    // Every value of the program key, to see what a load changed.
    std::map<std::string, std::string> Values() {
        std::map<std::string, std::string> values;
        RegistryKey k = Key();
        for (const std::string& name : k.ValueNames()) values[name] = k.ReadString(name);
        return values;
    }
    std::vector<std::string> Names(const TLocalCompanyList& list) {
        std::vector<std::string> names;
        for (int i = 0; i < list.Count(); ++i) {
            TLocalCompanyListItem item;
            list.GetItem(i, item);
            names.push_back(item.CompanyName);
        }
        return names;
    }
    test::CoreFixture core;
};

TEST_F(LocalCompanyListTest, AMissingProgramKeyIsCreatedAndTheListIsEmpty) {
    ASSERT_FALSE(core.hive().KeyExists(kProgramKey));
    CompanyRegistry registry(core.hive());
    TLocalCompanyList list(registry);
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(core.hive().KeyExists(kProgramKey));
}

TEST_F(LocalCompanyListTest, ListsValidSlotsInOrderAcrossGapsAndSkipsTheRestUntouched) {
    const std::string a =
        Company("a", {.name = "A", .withKey = true, .key = "abcdefabcdefabcdefabcdefabcdef12"});
    const std::string b = Company("b", {.name = "B", .withKey = true});
    const std::string other = Company("other", {.withKey = true});
    Slot(0, ReadCompanyKey(a), "A", a);
    Slot(3, "", "no path", "");
    Slot(5, ReadCompanyKey(b), "B", b);
    Slot(7, "0123456789abcdef0123456789abcdef", "moved", (core.dir / "gone").string());
    Slot(9, ReadCompanyKey(a), "", a);                        // no name
    Slot(11, ReadCompanyKey(a), "wrong key", other);          // another company's database now
    Slot(12, "ABCDEFABCDEFABCDEFABCDEFABCDEF12", "case", a);  // keys compare exactly
    Slot(40, ReadCompanyKey(b), "same folder again", b);      // duplicates are both listed
    Slot(99, ReadCompanyKey(a), "last", a);
    Slot(100, ReadCompanyKey(a), "beyond", a);  // never read
    const auto before = Values();

    CompanyRegistry registry(core.hive());
    TLocalCompanyList list(registry);
    list.Load();
    EXPECT_THAT(Names(list), testing::ElementsAre("A", "B", "same folder again", "last"));
    EXPECT_EQ(Values(), before);

    TLocalCompanyListItem item;
    list.GetItem(1, item);
    EXPECT_EQ(item.CompanyKey, ReadCompanyKey(b));
    EXPECT_EQ(item.LocalPath, b);
    TDateTime expected = 0;
    ASSERT_TRUE(GetFileModifiedTime(CompanyDatabaseFile(b), expected));
    EXPECT_EQ(item.LocalModified, expected);

    list.Load();  // a second load starts over
    EXPECT_EQ(list.Count(), 4);
}

TEST_F(LocalCompanyListTest, ASlotWithoutKeyTakesTheDatabasesKeyOrAFreshOne) {
    const std::string stored = "0123456789ABCDEF0123456789ABCDEF";
    const std::string keyed = Company("keyed", {.withKey = true, .key = stored});
    const std::string bare = Company("bare");
    Slot(2, "", "keyed", keyed);
    Slot(4, "", "bare", bare);

    CompanyRegistry registry(core.hive());
    TLocalCompanyList list(registry);
    list.Load();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(Key().ReadString("Company02Key"), stored);
    const std::string fresh = Key().ReadString("Company04Key");
    EXPECT_EQ(fresh.size(), 32u);
    EXPECT_EQ(ReadCompanyKey(bare), fresh);
    EXPECT_EQ(list.Items[0].CompanyKey, stored);
    EXPECT_EQ(list.Items[1].CompanyKey, fresh);
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(LocalCompanyListTest, ADatabaseThatCannotKeepAKeyIsSkippedAtEveryLoad) {
    const std::string folder = Company("norow", {.verRow = false});
    Slot(0, "", "no row", folder);
    CompanyRegistry registry(core.hive());
    TLocalCompanyList list(registry);
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    const std::string written = Key().ReadString("Company00Key");
    EXPECT_EQ(written.size(), 32u);
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(Key().ReadString("Company00Key"), written);
}

TEST_F(LocalCompanyListTest, AnUnreadableDatabaseIsPassedOverAsDamagedWithOrWithoutAKey) {
    const std::string folder = (core.dir / "broken").string();
    fs::create_directory(folder);
    test::WriteFile(CompanyDatabaseFile(folder), std::string(4096, 'x'));
    Slot(1, "0123456789abcdef0123456789abcdef", "keyed", folder);
    CompanyRegistry registry(core.hive());
    TLocalCompanyList list(registry);
    list.Load();
    EXPECT_EQ(list.Count(), 0);

    Slot(2, "", "keyless", folder);
    list.Load();  // one damaged company never costs the whole list
    EXPECT_EQ(list.Count(), 0);
    ASSERT_EQ(list.Skipped.size(), 2u);
    for (const auto& skipped : list.Skipped) {
        EXPECT_EQ(skipped.Reason, TSkippedCompanySlot::srDamaged);
        EXPECT_EQ(skipped.LocalPath, folder);
    }
    EXPECT_FALSE(Key().ValueExists("Company02Key"));
}

}  // namespace
}  // namespace tidewell
