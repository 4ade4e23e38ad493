#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Backend.h"
#include "TestSupport.h"
#include "WebFolderService.h"

namespace tidewell::test {

// The service's two back ends; the service's tests run on each.
enum class Backend { Embedded, Distributed };

// One row of the archive index, read straight from it.
struct IndexRow {
    std::string companyKey;
    std::string name;
    std::string object;  // a file under archives/, or an object's key
    std::int64_t size = 0;
};

// A fresh store of either back end for one test, with what a test needs to look inside it
// behind the service's back: a data folder, or a database of its own in the test cluster with a
// prefix of its own in the test bucket (both removed afterwards).
class TestStore {
public:
    // folder: the data folder, or where the distributed store's uploads are spooled.
    static std::unique_ptr<TestStore> Make(Backend backend, const std::filesystem::path& folder);
    virtual ~TestStore() = default;

    Backend Kind() const { return kind_; }
    const ServiceStore& Location() const { return location_; }
    // The program's arguments for the command on this store.
    std::vector<std::string> Command(const std::string& command,
                                     const std::vector<std::string>& rest = {}) const {
        return location_.Command(command, rest);
    }
    // Opens it in this process, as the program does.
    std::unique_ptr<webfolder::Backend> Open() const;

    // Ordered by company key and name.
    virtual std::vector<IndexRow> ReadIndex() const = 0;
    // The archives' bytes kept, by the names the index gives them.
    virtual std::vector<std::string> StoredObjects() const = 0;
    // -1 when they are gone.
    virtual std::int64_t ObjectSize(const std::string& object) const = 0;
    virtual std::string PasswordRecord(const std::string& userId) const = 0;
    // Everything the index holds, to look for what must not be in it.
    virtual std::string IndexBytes() const = 0;
    // What an archive of this many bytes is charged.
    virtual std::int64_t Cost(std::int64_t size) const = 0;

    // Fails the test unless index and store agree: every row's bytes are there with its size,
    // nothing else is, and no upload was left behind.
    void ExpectConsistent() const;
    virtual std::size_t UnfinishedUploads() const = 0;

    // Breakage for fsck to find: the archive's bytes lost; bytes the index does not name
    // (returns how fsck names them); an upload cut off before the last stop.
    virtual void RemoveObject(const std::string& object) = 0;
    virtual std::string PlantStray(const std::string& bytes) = 0;
    virtual void PlantUnfinishedUpload() = 0;
    // How fsck names a row whose bytes are gone, and where --repair puts a stray.
    virtual std::string LostName(const std::string& object) const = 0;
    virtual bool KeptAsOrphan(const std::string& stray) const = 0;
    // Makes the index refuse every new archive row (as a failing disk would), or stops it.
    virtual void FailArchiveRows(bool fail) = 0;
    // Removes what uploads cut off left behind where only the sweep does.
    virtual void Sweep() = 0;
    // Whether a start compares index and store (and logs where they differ).
    virtual bool ComparesAtStart() const = 0;
    // Whether several services may serve it at once.
    virtual bool Shared() const = 0;

    // Each sets the store so that the service cannot see its archives (a disk not mounted, an
    // empty or another index's folder, a bucket's prefix without its mark or with another
    // index's); RestoreArchives puts them back.
    virtual std::vector<std::function<void()>> WaysToHideArchives() = 0;
    virtual void RestoreArchives() = 0;

protected:
    TestStore(Backend kind, ServiceStore location) : kind_(kind), location_(std::move(location)) {}

private:
    Backend kind_;
    ServiceStore location_;
};

// A test that runs on every back end: `store` is fresh for it.
class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    // A service on the test's store.
    std::unique_ptr<WebFolderService> StartService(std::vector<std::string> options = {}) const {
        return std::make_unique<WebFolderService>(store->Location(), std::move(options));
    }

    TempDir dir;
    std::unique_ptr<TestStore> store;
};

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);
inline void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Embedded ? "the embedded store" : "the distributed store");
}

// Runs every test of the suite on each back end: Suite.Test/Embedded, Suite.Test/Distributed.
#define TIDEWELL_ON_EVERY_BACKEND(Suite)                                                \
    INSTANTIATE_TEST_SUITE_P(, Suite,                                                   \
                             ::testing::Values(::tidewell::test::Backend::Embedded,     \
                                               ::tidewell::test::Backend::Distributed), \
                             ::tidewell::test::BackendName)

// Skips a test whose subject only one back end has, saying why.
#define TIDEWELL_ONLY_ON(backend, reason)                         \
    do {                                                          \
        if (GetParam() != ::tidewell::test::Backend::backend)     \
            GTEST_SKIP() << "not on this back end: " << (reason); \
    } while (false)

}  // namespace tidewell::test
