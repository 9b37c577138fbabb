// Run locks: flock on Linux, named mutexes on Windows.
#include "platform/run_lock.h"

#include <cerrno>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/durability.h"
#include "path_limits.h"

namespace {

// A run locks its input, the other record file of its module, its outputs
// and the new files it renames into place: well below this.
constexpr int MAX_LOCKS = 32;

}  // namespace

#ifdef _WIN32

namespace {

HANDLE held[MAX_LOCKS];
int held_count = 0;

// Mutex name of a path: its full path, case folded as the file system
// compares names, reduced to a 64-bit FNV-1a hash (mutex names are limited
// in length, paths are not).
void mutex_name(const char *path, char *name, size_t size)
{
    char full[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        n = DWORD(lstrlenA(lstrcpynA(full, path, sizeof full)));
    uint64_t h = 14695981039346656037ull;
    for (DWORD i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(full[i]);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c == '/')
            c = '\\';
        h = (h ^ c) * 1099511628211ull;
    }
    wsprintfA(name, "Local\\tarvel-%08lx%08lx", static_cast<unsigned long>(h >> 32),
              static_cast<unsigned long>(h & 0xFFFFFFFFu));
    (void)size;
}

void lock_name(const char *path)
{
    if (held_count >= MAX_LOCKS)
        return;
    char name[64];
    mutex_name(path, name, sizeof name);
    HANDLE m = CreateMutexA(nullptr, FALSE, name);
    if (!m)
        return;
    // A mutex left by a process that died is handed over as abandoned: the
    // lock is then ours as well. Waiting again for a mutex this run owns
    // returns at once.
    DWORD rc = WaitForSingleObject(m, INFINITE);
    if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) {
        CloseHandle(m);
        return;
    }
    held[held_count++] = m;
}

void lock_named_file(const char *path) { lock_name(path); }

void lock_directory_of(const char *path) { lock_name(path); }

// The mutex is named after the target, which the new file takes over.
void lock_new_stream(FILE *) {}

void release_all()
{
    while (held_count > 0) {
        HANDLE m = held[--held_count];
        ReleaseMutex(m);
        CloseHandle(m);
    }
}

}  // namespace

#else

namespace {

// The locked descriptors, and the files they are of, so that a run never
// waits for a lock it holds itself through another descriptor.
struct HeldLock {
    int fd;
    dev_t device;
    ino_t inode;
};
HeldLock held[MAX_LOCKS];
int held_count = 0;

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool held_already(const struct stat &st)
{
    for (int i = 0; i < held_count; i++)
        if (held[i].device == st.st_dev && held[i].inode == st.st_ino)
            return true;
    return false;
}

bool wait_for_lock(int fd)
{
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;  // e.g. ENOLCK: the file system keeps no locks
    return true;
}

void keep(int fd, const struct stat &st) { held[held_count++] = {fd, st.st_dev, st.st_ino}; }

// Locks fd and keeps it, or closes it.
void keep_locked(int fd)
{
    struct stat st;
    if (held_count < MAX_LOCKS && fstat(fd, &st) == 0 && !held_already(st) && wait_for_lock(fd))
        keep(fd, st);
    else
        close(fd);
}

void lock_named_file(const char *path)
{
    for (;;) {
        // O_NONBLOCK: opening a FIFO must not wait for a writer.
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat locked;
        if (held_count >= MAX_LOCKS || fstat(fd, &locked) != 0 || held_already(locked) ||
            !wait_for_lock(fd)) {
            close(fd);
            return;
        }
        // While we waited, the holder may have renamed a new file over the
        // name: then the lock guards a file nobody uses any more.
        struct stat named;
        bool named_ok = stat(path, &named) == 0;
        if (named_ok && same_file(locked, named)) {
            keep(fd, locked);
            return;
        }
        close(fd);
        if (!named_ok)
            return;  // gone, or cannot be looked at: nothing left to lock
    }
}

void lock_directory_of(const char *path)
{
    // The name itself comes and goes; its directory stays.
    char dir[PATH_BUFFER_SIZE + 32];
    directory_of(path, dir, sizeof dir);
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        keep_locked(fd);
}

void lock_new_stream(FILE *stream)
{
    int fd = fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
    // Nobody else knows the file yet, so this never waits; the duplicate
    // keeps the lock after the stream is closed.
    if (fd >= 0)
        keep_locked(fd);
}

void release_all()
{
    while (held_count > 0)
        close(held[--held_count].fd);
}

}  // namespace

#endif

// The callers print errno of their own operations later; a lock leaves it
// as it found it.
void lock_file_at(const char *path)
{
    int saved_errno = errno;
    lock_named_file(path);
    errno = saved_errno;
}

void lock_scratch_name(const char *path)
{
    int saved_errno = errno;
    lock_directory_of(path);
    errno = saved_errno;
}

void lock_new_file(FILE *stream)
{
    int saved_errno = errno;
    lock_new_stream(stream);
    errno = saved_errno;
}

void release_run_locks()
{
    int saved_errno = errno;
    release_all();
    errno = saved_errno;
}
