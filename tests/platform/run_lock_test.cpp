// Run locks follow the name: a run that waited for a file that was then
// replaced by a rename ends up holding the new file, not the old one.
#include "platform/run_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

// True when someone else holds the lock of the file at path now.
bool locked_elsewhere(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return busy;
}

// Waits until process pid waits for a lock: /proc/locks lists a waiting
// request as "-> FLOCK ... <pid> ...".
void wait_until_blocked_in_flock(pid_t pid)
{
    std::string mark(" ");
    mark += std::to_string(pid);
    mark += ' ';
    for (int i = 0; i < 5000; i++) {
        std::istringstream locks(read_file("/proc/locks"));
        for (std::string line; std::getline(locks, line);)
            if (line.find("-> FLOCK") != std::string::npos && line.find(mark) != std::string::npos)
                return;
        usleep(1000);
    }
    ADD_FAILURE() << "the child never waited for the lock";
}

}  // namespace

TEST(RunLock, AWaitingRunLocksTheFileThatReplacedTheOneItWaitedFor)
{
    TempDir dir;
    std::string file = dir.file("modu.abs"), fresh = dir.file("modu.new");
    write_file(file, "old");
    int holder = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);

    int locked[2], done[2];
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    if (child == 0) {
        // The holder's lock is not ours: the copy of its descriptor goes.
        close(holder);
        close(locked[0]);
        close(done[1]);
        lock_file_at(file.c_str());
        (void)!write(locked[1], "x", 1);
        char c;
        (void)!read(done[0], &c, 1);  // keeps the lock until the test has looked
        _exit(0);
    }
    close(locked[1]);
    close(done[0]);

    // Once the child waits for the old file, the holder replaces it and
    // ends; the child must not stay on the old file, which nobody uses any
    // more.
    wait_until_blocked_in_flock(child);
    write_file(fresh, "new");
    ASSERT_EQ(std::rename(fresh.c_str(), file.c_str()), 0);
    close(holder);
    char c;
    ASSERT_EQ(read(locked[0], &c, 1), 1);
    EXPECT_TRUE(locked_elsewhere(file));

    close(done[1]);
    close(locked[0]);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(locked_elsewhere(file));
}

TEST(RunLock, ARunDoesNotWaitForItselfNorLockMissingFiles)
{
    TempDir dir;
    std::string file = dir.file("modu.bin"), link = dir.file("modu.thx");
    write_file(file, "module");
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    errno = 1234;
    // The same file under a second name, and a name with no file.
    lock_file_at(file.c_str());
    lock_file_at(link.c_str());
    lock_file_at(dir.file("missing").c_str());
    lock_scratch_name(dir.file("generic.tmp").c_str());
    EXPECT_EQ(errno, 1234);  // callers print errno of their own calls later

    pid_t child = fork();
    if (child == 0)
        _exit(locked_elsewhere(file) ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    release_run_locks();
    EXPECT_FALSE(locked_elsewhere(file));
}
