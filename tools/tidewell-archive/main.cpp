// tidewell-archive: look into, pack and recover .bck archives by hand.

#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveListing.h"
#include "archive/backup.h"
#include "platform/DateTime.h"
#include "platform/DosTime.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;
using namespace tidewell;

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  tidewell-archive pack [--level fastest|none|default|max] [--max-size BYTES] [--file-list]\n"
    "                        [--title TEXT] ARCHIVE ENTRY...\n"
    "  tidewell-archive list ARCHIVE\n"
    "  tidewell-archive restore [--mode all|no-overwrite|newer|existing|existing-newer]\n"
    "                           [--full-path] ARCHIVE [DESTFOLDER]\n"
    "\n"
    "ENTRY is a file, a pattern such as data/*.mdb (quote it), or either followed by \" /s\" to\n"
    "search every subfolder as well; a folder packs everything below it. --max-size spreads the\n"
    "archive over disk files ARCHIVE, .002, .003 ... of at most BYTES each (0: one file).\n"
    "Without DESTFOLDER every member goes back to the absolute path it was stored under.\n"
    "list prints, one line per member: name, date, original size, stored size (tab-separated).\n";

// Smallest disk file that still takes one block after the signature that opens it.
constexpr long long kSmallestMaxSize = archive::kBlockReserve + 5;

struct UsageError {
    std::string text;
};

class Arguments {
public:
    Arguments(int argc, char** argv) : args_(argv + 1, argv + argc) {}

    bool Empty() const { return next_ >= args_.size(); }
    std::string Take(const char* what) {
        if (Empty()) throw UsageError{std::string("missing ") + what};
        return args_[next_++];
    }
    // The next argument when it is an option ("--name"); options come before the operands.
    std::optional<std::string> TakeOption() {
        if (Empty() || args_[next_].rfind("--", 0) != 0) return std::nullopt;
        return args_[next_++];
    }

private:
    std::vector<std::string> args_;
    std::size_t next_ = 0;
};

template <typename T>
T Choice(const std::string& option, const std::string& value,
         const std::map<std::string, T>& choices) {
    const auto it = choices.find(value);
    if (it == choices.end()) throw UsageError{"unknown value for " + option + ": " + value};
    return it->second;
}

class ProgressBar {
public:
    ProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar() { Finish(); }
    // Ends the bar's line, so what is printed next starts on a line of its own.
    void Finish() {
        if (shown_) std::fputs("\n", stderr);
        shown_ = false;
    }
    void Show(const std::string& file, int percent) {
        if (!enabled_ || (percent == last_ && file == lastFile_)) return;
        last_ = percent;
        lastFile_ = file;
        shown_ = true;
        const int filled = percent * 30 / 100;
        std::string name = fs::path(file).filename().string();
        if (name.size() > 36) name = name.substr(0, 33) + "...";
        std::fprintf(stderr, "\r[%s%s] %3d%% %-36s", std::string(filled, '#').c_str(),
                     std::string(30 - filled, ' ').c_str(), percent, name.c_str());
        std::fflush(stderr);
    }

private:
    bool enabled_;
    bool shown_ = false;
    int last_ = -1;
    std::string lastFile_;
};

// Reports go to the terminal, never to a dialog; the first report of an operation is kept.
void Attach(TBackupFile& backup, ProgressBar& bar, std::string& failure) {
    backup.OnProgress = [&bar](TBackupFile*, const std::string& file, TPercentage percent, bool&) {
        bar.Show(file, percent);
    };
    backup.OnError = [&failure](TBackupFile* sender, int, const std::string& message) {
        failure = sender->ErrorDetail().empty() ? message : message + ": " + sender->ErrorDetail();
    };
}

int Fail(const std::string& text) {
    std::cerr << "tidewell-archive: " << text << "\n";
    return 1;
}

int Pack(Arguments& args) {
    TBackupFile backup;
    backup.CompressionLevel = clDefault;
    const char* tmpdir = std::getenv("TMPDIR");
    backup.TempFolder = TempFolderOf(tmpdir ? tmpdir : "").string();
    while (const auto option = args.TakeOption()) {
        if (*option == "--level") {
            backup.CompressionLevel = Choice<TCompressionLevel>(
                *option, args.Take("level"),
                {{"fastest", clFastest}, {"none", clNone}, {"default", clDefault}, {"max", clMax}});
        } else if (*option == "--max-size") {
            const std::string text = args.Take("size");
            long long size = -1;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
            if (ec != std::errc() || end != text.data() + text.size() || size < 0 ||
                size > INT32_MAX || (size > 0 && size < kSmallestMaxSize)) {
                throw UsageError{"--max-size takes 0 or a number of bytes from " +
                                 std::to_string(kSmallestMaxSize) + " to " +
                                 std::to_string(INT32_MAX)};
            }
            backup.MaxSize = static_cast<std::int32_t>(size);
        } else if (*option == "--file-list") {
            backup.SaveFileID = true;
        } else if (*option == "--title") {
            backup.BackupTitle = args.Take("title");
        } else {
            throw UsageError{"unknown option " + *option};
        }
    }
    const std::string archiveName = args.Take("ARCHIVE");
    std::vector<std::string> entries;
    while (!args.Empty()) {
        std::string entry = args.Take("ENTRY");
        std::error_code ec;
        if (fs::is_directory(entry, ec)) entry = (fs::path(entry) / "*").string() + " /s";
        entries.push_back(entry);
    }
    if (entries.empty()) throw UsageError{"missing ENTRY"};

    ProgressBar bar;
    std::string failure;
    Attach(backup, bar, failure);
    // Nobody changes disks here: the next disk file is simply written beside the first.
    backup.OnNeedDisk = [](TBackupFile*, std::uint16_t, bool& go) { go = true; };
    const bool packed = backup.Backup(entries, archiveName);
    bar.Finish();
    if (packed) return 0;
    return Fail(failure.empty() ? "packing was cancelled" : failure);
}

int List(Arguments& args) {
    const std::string archiveName = args.Take("ARCHIVE");
    if (!args.Empty()) throw UsageError{"too many arguments"};
    std::error_code ec;
    if (!fs::exists(archiveName, ec)) return Fail("archive not found: " + archiveName);
    archive::ListArchive(archiveName, [](const archive::ArchiveMember& member) {
        const auto date = UnpackDosDateTime(member.date);
        std::cout << member.name << '\t'
                  << (date ? FormatDateTime("yyyy-mm-dd hh:nn:ss", *date) : "-") << '\t'
                  << member.size << '\t' << member.storedSize << '\n';
    });
    return 0;
}

int Restore(Arguments& args) {
    TBackupFile backup;
    while (const auto option = args.TakeOption()) {
        if (*option == "--mode") {
            backup.RestoreMode = Choice<TRestoreMode>(*option, args.Take("mode"),
                                                      {{"all", rmAll},
                                                       {"no-overwrite", rmNoOverwrite},
                                                       {"newer", rmNewer},
                                                       {"existing", rmExisting},
                                                       {"existing-newer", rmExistingNewer}});
        } else if (*option == "--full-path") {
            backup.RestoreFullPath = true;
        } else {
            throw UsageError{"unknown option " + *option};
        }
    }
    const std::string archiveName = args.Take("ARCHIVE");
    const std::string destFolder = args.Empty() ? std::string() : args.Take("DESTFOLDER");
    if (!args.Empty()) throw UsageError{"too many arguments"};
    std::error_code ec;
    if (!fs::exists(archiveName, ec)) return Fail("archive not found: " + archiveName);

    ProgressBar bar;
    std::string failure;
    Attach(backup, bar, failure);
    std::string missingDisk;
    // Goes on when the next disk file is there; nobody can be asked to insert one.
    backup.OnNeedDisk = [&](TBackupFile*, std::uint16_t disk, bool& go) {
        const std::string next = archive::DiskFileName(archiveName, archive::DiskSuffix(disk));
        std::error_code missing;
        go = fs::exists(next, missing);
        if (!go) missingDisk = next;
    };
    try {
        const bool restored = backup.Restore(archiveName, destFolder);
        bar.Finish();
        if (restored) return 0;
    } catch (const Exception& e) {
        bar.Finish();
        const std::string detail = backup.ErrorDetail();
        return Fail(detail.empty() || detail == e.what() ? e.what()
                                                         : std::string(e.what()) + ": " + detail);
    }
    if (!missingDisk.empty())
        return Fail("The archive continues in " + missingDisk + ", which is missing");
    return Fail(failure.empty() ? "restoring was cancelled" : failure);
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args(argc, argv);
    try {
        const std::string command = args.Take("command");
        if (command == "pack") return Pack(args);
        if (command == "list") return List(args);
        if (command == "restore") return Restore(args);
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        throw UsageError{"unknown command " + command};
    } catch (const UsageError& e) {
        std::cerr << "tidewell-archive: " << e.text << "\n" << kUsage;
        return 2;
    } catch (const archive::ArchiveError& e) {
        const std::string detail = e.Detail();
        return Fail(detail == e.what() ? detail : std::string(e.what()) + ": " + detail);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
