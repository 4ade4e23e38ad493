#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "WebFolderTestClient.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

// A small tmpfs of its own, unmounted at the end; the test is skipped where mounting is not
// allowed.
class SmallDisk {
public:
    SmallDisk(const fs::path& where, const char* size) : path_(where) {
        fs::create_directories(path_);
        const std::string options = std::string("size=") + size + ",mode=0700";
        mounted_ = ::mount("tidewell-test", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

    // Writes until the disk refuses; returns how much went in.
    std::uintmax_t Fill(const fs::path& file) {
        std::ofstream out(file, std::ios::binary);
        const std::string block(64 * 1024, 'f');
        std::uintmax_t written = 0;
        while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
            out.flush();
            if (!out) break;
            written += block.size();
        }
        return written;
    }

private:
    fs::path path_;
    bool mounted_ = false;
    std::string error_;
};

class DiskFullTest : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(DiskFullTest);

// The disk that fills is the data folder's, or the one where the distributed store's uploads
// wait.
TEST_P(DiskFullTest, LoginsListsAndDownloadsGoOnWhileUploadsAreRefused) {
    SmallDisk disk(dir / "disk", "8m");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Error();
    store = TestStore::Make(GetParam(), disk / "data");

    // Records made with fewer iterations than the service wants: the first login would
    // rewrite them, which a full disk refuses without failing the login.
    const auto service = StartService({"--password-iterations", "2000"});
    service->AddUser("demo", "demo1234", "데모");
    service->AddUser("kim", "pw-kim", "김");
    WebFolderTestClient client(*service);
    const std::string archive = RandomBytes(300000, 11);
    ASSERT_TRUE(
        client.Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck", archive).Ok());

    const fs::path filler = disk / "filler";
    ASSERT_GT(disk.Fill(filler), 0u);

    const TextReply refused = client.Upload("demo", "demo1234", kKey1, "상사", "20240102000000.bck",
                                            RandomBytes(400000, 12));
    EXPECT_FALSE(refused.Ok());
    EXPECT_NE(refused.Value("MESSAGE").find("저장 공간"), std::string::npos) << refused.body;

    // A login the service has not seen yet, the list, the company and its archive.
    EXPECT_TRUE(client.Command("userprofile", "kim", "pw-kim").Ok());
    EXPECT_TRUE(client.Command("userprofile", "demo", "demo1234").Ok());
    EXPECT_EQ(client.Command("companylist", "demo", "demo1234").Value("C000"), kKey1);
    EXPECT_EQ(client.Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile"),
              "20240101000000.bck");
    const auto download = client.Download("demo", "demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_TRUE(download->body == archive);

    fs::remove(filler);
    EXPECT_TRUE(
        client.Upload("demo", "demo1234", kKey1, "상사", "20240102000000.bck", "after").Ok());
    store->ExpectConsistent();
    EXPECT_EQ(service->Stop(), 0);
}

}  // namespace
}  // namespace tidewell::test
