#include "Commands.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>

#include "AccountStore.h"
#include "ArchiveStore.h"
#include "Backup.h"
#include "DataFolder.h"
#include "DistributedBackend.h"
#include "Fsck.h"
#include "Migrate.h"
#include "ObjectFsck.h"
#include "PasswordInput.h"
#include "WebFolderServer.h"

namespace tidewell::webfolder {

int RunServe(const ServeOptions& options, std::ostream& out) {
    // The signals are taken by this thread with sigwait; every other thread, including the
    // server's, starts later and inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // An operator's file-size limit (ulimit -f) must fail the one write that passes it, with a
    // reply the client can read, not end the service.
    signal(SIGXFSZ, SIG_IGN);
    // Every connection is a descriptor; the soft limit (often 1024) would come before the
    // service's own cap on connections.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    WebFolderServer server(options.location, options.settings);
    const int port = server.Listen(options.host, options.port);
    out << port << std::endl;
    const std::string shownHost =
        options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    StandardErrorSink()("tidewell-webfolder: serving http://" + shownHost + ":" +
                        std::to_string(port) + " from " + options.location.Describe() +
                        (options.settings.store.appendOnly ? " (append-only)" : ""));
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0 || (signal != SIGTERM && signal != SIGINT)) {
    }
    server.Stop();
    StandardErrorSink()("tidewell-webfolder: stopped");
    return 0;
}

int RunAddUser(AddUserOptions options, std::istream& in, std::ostream& out) {
    if (options.passwordOnCommandLine) {
        StandardErrorSink()(
            std::string("tidewell-webfolder: warning: --password shows the password to every "
                        "user of this machine and keeps it in the shell's history; give it in ") +
            kPasswordVariable + " or on standard input instead");
    } else {
        options.account.password = ReadPassword(in, STDIN_FILENO);
    }
    const auto backend = OpenBackend(options.location);
    const bool created = AccountStore(backend->Index())
                             .Save(options.account, static_cast<std::int64_t>(std::time(nullptr)),
                                   options.passwordIterations);
    out << (created ? "created" : "updated") << " account " << options.account.userId << std::endl;
    return 0;
}

int RunPrune(const PruneOptions& options, std::ostream& out) {
    const auto backend = OpenBackend(options.location);
    PruneRules rules{options.keep, options.keepBefore, std::nullopt};
    if (!options.account.empty()) {
        const auto account = backend->Index().FindAccount(options.account);
        if (!account) throw Exception("no account " + options.account);
        rules.accountId = account->id;
    }
    const PruneResult result = ArchiveStore(backend->Index(), backend->Bytes()).Prune(rules);
    out << "removed " << result.archives << " archives (" << result.bytes << " bytes)";
    if (result.companies > 0) out << " and " << result.companies << " companies left empty";
    out << std::endl;
    return 0;
}

namespace {

// fsck of the distributed store: it walks the bucket's prefix, which nothing else does.
int RunObjectFsck(const FsckOptions& options, std::ostream& out) {
    auto backend = OpenBackend(options.location);
    auto& distributed = dynamic_cast<DistributedBackend&>(*backend);
    const ObjectInconsistencies found = FindObjectInconsistencies(distributed);
    for (const auto& object : found.strays) out << "not in the index: " << object << "\n";
    for (const auto& upload : found.strayUploads) {
        out << "unfinished upload not in the index: " << upload.key << "\n";
    }
    for (const auto& entry : found.lost) {
        out << "object gone: " << entry.object << " (" << entry.size << " bytes)\n";
    }
    for (const auto& entry : found.resized) {
        out << "size differs: " << entry.object << " (index " << entry.size << ", object "
            << entry.actual << ")\n";
    }
    if (found.Count() == 0) {
        out << "the index and the object store agree" << std::endl;
        return 0;
    }
    out << found.Summary() << std::endl;
    if (!options.repair) {
        out << "nothing changed; --repair puts it right" << std::endl;
        return 1;
    }
    if (found.Count() > options.maxRepairs) {
        out << "nothing changed: " << found.Count() << " repairs are more than "
            << options.maxRepairs
            << "; make sure the bucket and prefix are the right ones, then raise --max-repairs"
            << std::endl;
        return 1;
    }
    RepairObjects(distributed, found);
    out << "repaired; objects the index did not name are under " << distributed.Objects().Prefix()
        << "orphans/" << std::endl;
    return 0;
}

}  // namespace

int RunFsck(const FsckOptions& options, std::ostream& out) {
    if (options.location.Distributed()) return RunObjectFsck(options, out);
    const DataFolder folder(options.location.dataFolder);
    // Repairs would break the uploads of a running service.
    FileHandle claim;
    if (options.repair) claim = folder.ClaimForServing();
    const Inconsistencies found = FindInconsistencies(folder);
    for (const auto& file : found.strayFiles) {
        out << "not in the index: archives/" << file << "\n";
    }
    for (const auto& entry : found.lostEntries) {
        out << "file gone: archives/" << entry.file << " (" << entry.size << " bytes)\n";
    }
    for (const auto& entry : found.resized) {
        out << "size differs: archives/" << entry.file << " (index " << entry.size << ", file "
            << entry.actual << ")\n";
    }
    if (found.Count() == 0) {
        out << "the index and the archives folder agree" << std::endl;
        return 0;
    }
    out << found.Summary() << std::endl;
    if (!options.repair) {
        out << "nothing changed; --repair (with the service stopped) puts it right" << std::endl;
        return 1;
    }
    if (found.Count() > options.maxRepairs) {
        out << "nothing changed: " << found.Count() << " repairs are more than "
            << options.maxRepairs
            << "; make sure the archives folder is the right one, then raise --max-repairs"
            << std::endl;
        return 1;
    }
    Repair(folder, found);
    out << "repaired; files the index did not name are in " << (folder.Root() / "orphans").string()
        << std::endl;
    return 0;
}

int RunMigrate(const MigrateOptions& options, std::ostream& out) {
    const MigrateResult result =
        MigrateDataFolder(options.dataFolder, options.target,
                          [&out](const std::string& line) { out << line << std::endl; });
    out << "moved " << result.accounts << " accounts, " << result.companies << " companies and "
        << result.archives << " archives (" << result.bytes << " bytes) into "
        << options.target.Describe() << "; " << options.dataFolder.string()
        << " is unchanged: serve the new place from now on" << std::endl;
    return 0;
}

int RunBackup(const BackupOptions& options, std::ostream& out) {
    const DataFolder folder(options.dataFolder);
    const BackupResult result = BackupDataFolder(folder, options.destination);
    out << "copied the index and " << result.archives << " archives (" << result.bytes
        << " bytes) to " << options.destination.string() << std::endl;
    return 0;
}

int RunRestoreBackup(const RestoreBackupOptions& options, std::ostream& out) {
    const BackupResult result = RestoreBackup(options.backup, options.dataFolder);
    out << "restored the index and " << result.archives << " archives (" << result.bytes
        << " bytes) into " << options.dataFolder.string() << std::endl;
    return 0;
}

}  // namespace tidewell::webfolder
