// Which engine a company database gets, by its first bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/DatabaseEngine.h"
#include "platform/Sqlite.h"

namespace tidewell {
namespace {

// Telling the format must not cost the host product its lock: closing a descriptor of a file
// drops every lock the process holds on it, and the host may be a connection of this process.
TEST(DatabaseFormat, ToldByTheHeaderWithoutLettingGoOfALockThisProcessHolds) {
    test::TempDir dir;
    const std::string database = (dir / "default.mdb").string();
    {
        SqliteDatabase made(database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        made.Execute("CREATE TABLE sale (id INTEGER)");
    }
    test::WriteFile(dir / "text.mdb", "not a database at all, longer than a header");
    test::WriteFile(dir / "empty.mdb", "");
    EXPECT_EQ(DatabaseFileFormat((dir / "missing.mdb").string()), DatabaseFormat::Empty);
    EXPECT_EQ(DatabaseFileFormat((dir / "empty.mdb").string()), DatabaseFormat::Empty);
    EXPECT_EQ(DatabaseFileFormat((dir / "text.mdb").string()), DatabaseFormat::Other);

    SqliteDatabase host(database, SQLITE_OPEN_READWRITE);
    host.Execute("BEGIN IMMEDIATE; INSERT INTO sale VALUES (1)");
    EXPECT_EQ(DatabaseFileFormat(database), DatabaseFormat::Sqlite);
    // Another process still finds the host's write lock (the engine's reserved byte).
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(database.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x40000001;
        lock.l_len = 1;
        _exit(fd >= 0 && fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host's lock was lost";
    host.Execute("COMMIT");
}

}  // namespace
}  // namespace tidewell
