#include "TestSupport.h"

#include <stdlib.h>

#include <fstream>
#include <random>

#include "platform/Error.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace tidewell::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tidewell-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw Exception("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests make folders read-only now and then; give the owner access back before removing.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw Exception("cannot write " + file.string());
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Exception("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RandomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (auto& b : bytes) b = static_cast<char>(generator() & 0xFF);
    return bytes;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value)
    : name_(name), previous_(getenv(name) ? getenv(name) : ""), had_(getenv(name) != nullptr) {
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (had_) {
        setenv(name_.c_str(), previous_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

MessageResult RecordingUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
    boxes.push_back(request);
    if (answers.empty()) return request.defaultButton;
    const MessageResult answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

CoreFixture::CoreFixture()
    : hive_(std::make_unique<SettingsHive>(dir.path() / "config" / "registry.db")),
      scopedUi_(ui),
      scopedPump_(pump) {
    fs::create_directories(dir.path() / "tmp");
    fs::create_directories(dir.path() / "run");
    fs::permissions(dir.path() / "run", fs::perms::owner_all);  // as the login manager makes it
}

CoreFixture::~CoreFixture() = default;

WorkPlacesInput CoreFixture::Places() const {
    return WorkPlacesInputOf((dir.path() / "run").string(), (dir.path() / "tmp").string(),
                             (dir.path() / "home").string());
}

}  // namespace tidewell::test
