#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>
#include <optional>
#include <vector>

namespace tidewell::webfolder {
namespace {

struct Arguments {
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
};

// Reads "--name value" and "--name=value" pairs and "--flag"s, allowing only the names given;
// at most `positional` other arguments.
Arguments ReadOptions(std::span<const std::string> arguments,
                      const std::vector<std::string_view>& allowed,
                      std::initializer_list<std::string_view> flags = {},
                      std::size_t positional = 0) {
    Arguments read;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            if (read.positional.size() >= positional) {
                throw UsageError("unexpected argument '" + argument +
                                 "' (a value with spaces must be quoted)");
            }
            read.positional.push_back(argument);
            continue;
        }
        std::string name = argument.substr(2);
        std::string value;
        const auto eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const bool isFlag = std::find(flags.begin(), flags.end(), name) != flags.end();
        if (!isFlag && std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            throw UsageError("unknown option --" + name);
        }
        if (isFlag && eq != std::string::npos) throw UsageError("--" + name + " takes no value");
        if (!isFlag && eq == std::string::npos) {
            if (i + 1 >= arguments.size()) throw UsageError("--" + name + " needs a value");
            value = arguments[++i];
        }
        if (!read.values.emplace(name, value).second) {
            throw UsageError("--" + name + " is given twice");
        }
    }
    return read;
}

const std::string& Required(const Arguments& read, const std::string& name) {
    const auto found = read.values.find(name);
    if (found == read.values.end() || found->second.empty())
        throw UsageError("--" + name + " is required");
    return found->second;
}

std::int64_t Integer(const std::string& name, const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw UsageError("--" + name + " must be a whole number, not '" + text + "'");
    }
    return value;
}

// A whole number within [low, high], when the option is given.
template <typename T>
void ReadBounded(const Arguments& read, const std::string& name, std::int64_t low,
                 std::int64_t high, T& target) {
    const auto found = read.values.find(name);
    if (found == read.values.end()) return;
    const std::int64_t value = Integer(name, found->second);
    if (value < low || value > high) {
        throw UsageError("--" + name + " must be between " + std::to_string(low) + " and " +
                         std::to_string(high));
    }
    target = static_cast<T>(value);
}

// The options that say where accounts and archives are kept, on every command that opens them.
constexpr std::string_view kLocationOptions[] = {"data", "index", "archives", "s3-config", "spool"};

std::optional<std::string> Value(const Arguments& read, const std::string& name) {
    const auto found = read.values.find(name);
    if (found == read.values.end()) return std::nullopt;
    if (found->second.empty()) throw UsageError("--" + name + " needs a value");
    return found->second;
}

// user:password@ before the host, or a password= parameter.
bool UriHoldsPassword(std::string_view uri) {
    std::string_view rest = uri.substr(uri.find("://") + 3);
    const std::string_view authority = rest.substr(0, rest.find('/'));
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos)
        return true;
    const auto query = uri.find('?');
    if (query == std::string_view::npos) return false;
    const std::string parameters = "&" + std::string(uri.substr(query + 1));
    return parameters.find("&password=") != std::string::npos;
}

// --data DIR, or --index postgresql://... with --archives s3://BUCKET/PREFIX.
StoreLocation ReadLocation(const Arguments& read, const std::string& prefix = "") {
    StoreLocation location;
    const auto data = Value(read, "data");
    const auto index = Value(read, prefix + "index");
    const auto archives = Value(read, prefix + "archives");
    if (index || archives) {
        if (data && prefix.empty()) {
            throw UsageError("--data and --index/--archives name two different places; give one");
        }
        if (!index || !archives) {
            throw UsageError("--" + prefix + "index and --" + prefix +
                             "archives go together: the index in PostgreSQL, the archives in an "
                             "S3 bucket");
        }
        if (!index->starts_with("postgresql://") && !index->starts_with("postgres://")) {
            throw UsageError("--" + prefix + "index must be a postgresql:// URI");
        }
        if (UriHoldsPassword(*index)) {
            throw UsageError("--" + prefix +
                             "index must not hold a password, which every user of the machine "
                             "could read in the process list; give it in PGPASSFILE or PGPASSWORD");
        }
        if (!archives->starts_with("s3://") || archives->size() <= 5) {
            throw UsageError("--" + prefix + "archives must be s3://BUCKET/PREFIX");
        }
        location.index = *index;
        location.archives = *archives;
        if (const auto config = Value(read, "s3-config")) location.s3Config = *config;
        if (const auto spool = Value(read, "spool")) location.spool = *spool;
        return location;
    }
    if (Value(read, "s3-config") || Value(read, "spool")) {
        throw UsageError("--s3-config and --spool belong to --index/--archives");
    }
    if (!data) throw UsageError("--data is required (or --index with --archives)");
    location.dataFolder = *data;
    return location;
}

// The command's own options and the location's.
std::vector<std::string_view> WithLocation(std::initializer_list<std::string_view> own) {
    std::vector<std::string_view> all(own);
    all.insert(all.end(), std::begin(kLocationOptions), std::end(kLocationOptions));
    return all;
}

ServeOptions ReadServe(const Arguments& read) {
    ServeOptions options;
    options.location = ReadLocation(read);
    if (const auto listen = read.values.find("listen"); listen != read.values.end()) {
        ParseListenAddress(listen->second, options.host, options.port);
    }
    HttpLimits& http = options.settings.http;
    std::int64_t headSeconds = http.pace.headTime.count() / 1000;
    ReadBounded(read, "head-timeout", 1, 3600, headSeconds);
    http.pace.headTime = std::chrono::seconds(headSeconds);
    ReadBounded(read, "idle-timeout", 1, 3600, http.idleSeconds);
    ReadBounded(read, "body-min-rate", 0, 1 << 30, http.pace.minBodyRate);
    std::int64_t windowSeconds = http.pace.bodyWindow.count() / 1000;
    ReadBounded(read, "body-window", 1, 3600, windowSeconds);
    http.pace.bodyWindow = std::chrono::seconds(windowSeconds);
    ReadBounded(read, "max-connections", 1, 100000, http.maxConnections);
    // Room for a tenth of the connections to be served while the rest still send.
    http.pace.maxUnfinished = std::max(1u, http.maxConnections - http.maxConnections / 10);
    ReadBounded(read, "max-unfinished", 1, 100000, http.pace.maxUnfinished);
    ReadBounded(read, "per-address", 1, 100000, http.perAddress);
    ReadBounded(read, "threads", 1, 64, http.threads);
    ReadBounded(read, "storage-threads", 1, 64, http.storageThreads);
    ReadBounded(read, "password-threads", 1, 64, http.passwordThreads);
    ReadBounded(read, "object-threads", 1, 256, http.objectThreads);
    std::int64_t sweepSeconds = options.settings.sweepInterval.count();
    ReadBounded(read, "sweep-interval", 1, 7 * 86400, sweepSeconds);
    options.settings.sweepInterval = std::chrono::seconds(sweepSeconds);
    ReadBounded(read, "orphan-age", 60, 30 * 86400, options.settings.backend.orphanAgeSeconds);
    std::int64_t downloadMiB = options.settings.backend.downloadMemory >> 20;
    ReadBounded(read, "download-memory", 0, 1 << 20, downloadMiB);
    options.settings.backend.downloadMemory = downloadMiB << 20;
    if (const auto proxy = read.values.find("trusted-proxy"); proxy != read.values.end()) {
        http.trustedProxy = proxy->second;
    }
    options.settings.store.appendOnly = read.values.count("append-only") != 0;
    ReadBounded(read, "max-companies", 1, 100000, options.settings.store.maxCompanies);
    ReadBounded(read, "password-iterations", kMinPasswordIterations, 10000000,
                options.settings.passwordIterations);
    return options;
}

AddUserOptions ReadAddUser(const Arguments& read) {
    AddUserOptions options;
    options.location = ReadLocation(read);
    options.account.userId = Required(read, "id");
    options.account.name = Required(read, "name");
    if (const auto password = read.values.find("password"); password != read.values.end()) {
        options.account.password = password->second;
        options.passwordOnCommandLine = true;
    }
    if (const auto days = read.values.find("days"); days != read.values.end()) {
        options.account.days = Integer("days", days->second);
    }
    if (const auto quota = read.values.find("quota"); quota != read.values.end()) {
        options.account.quota = Integer("quota", quota->second);
    }
    ReadBounded(read, "password-iterations", kMinPasswordIterations, 10000000,
                options.passwordIterations);
    return options;
}

}  // namespace

void ParseListenAddress(std::string_view text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) throw UsageError("--listen must be ADDRESS:PORT");
    std::string_view address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    if (address.empty()) throw UsageError("--listen needs an address before the port");
    const std::string portText(text.substr(colon + 1));
    const std::int64_t value = Integer("listen", portText);
    if (value < 0 || value > 65535) throw UsageError("--listen port must be between 0 and 65535");
    host = std::string(address);
    port = static_cast<int>(value);
}

Command ParseCommandLine(std::span<const std::string> arguments) {
    if (arguments.empty()) throw UsageError("no command given");
    const std::string& command = arguments.front();
    const auto rest = arguments.subspan(1);
    if (command == "help" || command == "--help" || command == "-h") return HelpRequest{};
    if (command == "serve") {
        return ReadServe(ReadOptions(
            rest,
            WithLocation({"listen", "head-timeout", "idle-timeout", "body-min-rate", "body-window",
                          "max-connections", "max-unfinished", "per-address", "threads",
                          "storage-threads", "password-threads", "object-threads", "trusted-proxy",
                          "max-companies", "password-iterations", "sweep-interval", "orphan-age",
                          "download-memory"}),
            {"append-only"}));
    }
    if (command == "adduser") {
        return ReadAddUser(ReadOptions(rest, WithLocation({"id", "password", "name", "days",
                                                           "quota", "password-iterations"})));
    }
    if (command == "prune") {
        const Arguments read = ReadOptions(rest, WithLocation({"keep", "keep-before", "account"}));
        PruneOptions options;
        options.location = ReadLocation(read);
        if (read.values.count("keep") == 0 && read.values.count("keep-before") == 0) {
            throw UsageError("prune needs --keep N or --keep-before TIME");
        }
        if (read.values.count("keep") != 0) {
            std::size_t keep = 0;
            ReadBounded(read, "keep", 1, 1000000, keep);
            options.keep = keep;
        }
        if (const auto before = read.values.find("keep-before"); before != read.values.end()) {
            options.keepBefore = ParseTime(before->second);
        }
        if (read.values.count("account") != 0) options.account = Required(read, "account");
        return options;
    }
    if (command == "backup") {
        const Arguments read = ReadOptions(rest, {"data"}, {}, 1);
        BackupOptions options;
        options.dataFolder = Required(read, "data");
        if (read.positional.empty()) throw UsageError("backup needs a destination folder");
        options.destination = read.positional.front();
        return options;
    }
    if (command == "restore-backup") {
        const Arguments read = ReadOptions(rest, {"data"}, {}, 1);
        RestoreBackupOptions options;
        options.dataFolder = Required(read, "data");
        if (read.positional.empty()) throw UsageError("restore-backup needs the backup folder");
        options.backup = read.positional.front();
        return options;
    }
    if (command == "fsck") {
        const Arguments read = ReadOptions(rest, WithLocation({"max-repairs"}), {"repair"});
        FsckOptions options;
        options.location = ReadLocation(read);
        options.repair = read.values.count("repair") != 0;
        ReadBounded(read, "max-repairs", 1, 100000000, options.maxRepairs);
        return options;
    }
    if (command == "migrate") {
        const Arguments read =
            ReadOptions(rest, {"data", "to-index", "to-archives", "s3-config", "spool"});
        MigrateOptions options;
        options.dataFolder = Required(read, "data");
        if (!read.values.count("to-index") || !read.values.count("to-archives")) {
            throw UsageError(
                "migrate needs --to-index postgresql://... and --to-archives s3://...");
        }
        options.target = ReadLocation(read, "to-");
        return options;
    }
    throw UsageError("unknown command '" + command + "'");
}

std::int64_t ParseTime(std::string_view text) {
    if (text.starts_with("@")) return Integer("keep-before", std::string(text.substr(1)));
    std::tm civil{};
    int fields[6] = {0, 0, 0, 0, 0, 0};
    // YYYY-MM-DD?HH:MM[:SS]
    const bool shaped = (text.size() == 16 || text.size() == 19) && text[4] == '-' &&
                        text[7] == '-' && (text[10] == ' ' || text[10] == 'T') && text[13] == ':' &&
                        (text.size() == 16 || text[16] == ':');
    const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; shaped && i < (text.size() == 19 ? 6 : 5); ++i) {
        fields[i] = static_cast<int>(
            Integer("keep-before", std::string(text.substr(starts[i], lengths[i]))));
    }
    if (!shaped || fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 ||
        fields[3] > 23 || fields[4] > 59 || fields[5] > 59) {
        throw UsageError("a time must look like 2024-05-01T09:30 (local time) or @SECONDS, not '" +
                         std::string(text) + "'");
    }
    civil.tm_year = fields[0] - 1900;
    civil.tm_mon = fields[1] - 1;
    civil.tm_mday = fields[2];
    civil.tm_hour = fields[3];
    civil.tm_min = fields[4];
    civil.tm_sec = fields[5];
    civil.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&civil));
}

std::string UsageText() {
    return "usage:\n"
           "  Every command names where accounts and archives are kept: --data DIR (SQLite and\n"
           "  files, the embedded default), or --index postgresql://USER@HOST:PORT/DB with\n"
           "  --archives s3://BUCKET/PREFIX, which several services may share. The index's\n"
           "  password comes from PGPASSFILE or PGPASSWORD; the object store's endpoint, region\n"
           "  and keys from the file --s3-config FILE (mode 0600) or TIDEWELL_S3_ENDPOINT,\n"
           "  TIDEWELL_S3_REGION, TIDEWELL_S3_ACCESS_KEY and TIDEWELL_S3_SECRET_KEY.\n"
           "  --spool DIR: where uploads to the object store wait while they arrive ($TMPDIR).\n"
           "\n"
           "  tidewell-webfolder serve STORE [--listen ADDR:PORT] [--append-only]\n"
           "        [--max-companies N] [--head-timeout SECONDS] [--idle-timeout SECONDS]\n"
           "        [--body-min-rate BYTES] [--body-window SECONDS] [--max-connections N]\n"
           "        [--max-unfinished N] [--per-address N] [--threads N]\n"
           "        [--storage-threads N] [--password-threads N] [--object-threads N]\n"
           "        [--trusted-proxy ADDR] [--password-iterations N]\n"
           "        [--sweep-interval SECONDS] [--orphan-age SECONDS] [--download-memory MIB]\n"
           "      serves the web folder (default address 127.0.0.1:8080; port 0 picks a free\n"
           "      port). The port is printed on the first line of standard output.\n"
           "      --append-only refuses company deletion and keeps every archive.\n"
           "      With --index: every --sweep-interval (600) the service removes objects of\n"
           "      uploads cut off more than --orphan-age (21600) seconds ago; downloads share\n"
           "      --download-memory (256) MiB of read-ahead.\n"
           "  tidewell-webfolder adduser STORE --id ID --name NAME [--days N] [--quota BYTES]\n"
           "      creates or updates an account; the password comes from the environment\n"
           "      variable TIDEWELL_WEBFOLDER_PASSWORD or else from the first line of standard\n"
           "      input. --days N ends its period N times 24 hours from now (0: already ended;\n"
           "      left out: no end date). --quota is the web folder's size in bytes (default\n"
           "      1073741824).\n"
           "  tidewell-webfolder prune STORE [--keep N] [--keep-before TIME] [--account ID]\n"
           "      removes archives by the order they arrived in: --keep N keeps each company's\n"
           "      N that arrived last, --keep-before TIME (2024-05-01T09:30, local time, or\n"
           "      @SECONDS) removes every archive that arrived at or after TIME, and the\n"
           "      companies made since then that are left empty. --account limits it to one\n"
           "      account.\n"
           "  tidewell-webfolder fsck STORE [--repair [--max-repairs N]]\n"
           "      compares the index with the archives and reports where they differ;\n"
           "      --repair moves what the index does not name into orphans/ (beside the\n"
           "      archives), drops entries whose archive is gone and corrects sizes, unless\n"
           "      there are more than N (100) such repairs. A data folder must not be served\n"
           "      meanwhile; the distributed store may.\n"
           "  tidewell-webfolder backup --data DIR DEST\n"
           "      copies the index and every archive it names, as one consistent state, into\n"
           "      the new folder DEST, which can itself be served. A file written last,\n"
           "      backup-complete, vouches for it: a backup cut off midway is refused.\n"
           "  tidewell-webfolder restore-backup --data DIR BACKUP\n"
           "      checks the backup BACKUP and copies it into the new data folder DIR.\n"
           "  tidewell-webfolder migrate --data DIR --to-index postgresql://...\n"
           "                             --to-archives s3://BUCKET/PREFIX [--s3-config FILE]\n"
           "      moves the data folder (not served meanwhile) into an empty index and the\n"
           "      bucket: accounts, companies, archives in the order they arrived, quotas.\n"
           "      The data folder is left as it was.\n";
}

}  // namespace tidewell::webfolder
