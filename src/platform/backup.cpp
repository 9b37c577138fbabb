// Keeping the .bak file of a record file set in place.
#include "platform/backup.h"

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#ifdef __linux__
#include <csignal>
#include <sys/prctl.h>
#endif
#endif

#include "path_limits.h"
#include "platform/file_copy.h"
#include "platform/output_file.h"
#include "platform/scratch_files.h"

namespace {

// Where a file system has no hard links: bak's successor is a copy of
// input, written under a temporary name and put on disk.
int stage_copy(const char *input, const char *bak)
{
    FILE *in = std::fopen(input, "rb");
    if (!in)
        return -1;
    OutputFile out;
    FileIdentity id;
    bool copied = false;
    if (output_open(&out, bak, input) == 0) {
        bool write_failed = false;
        copied = file_identity(in, &id) &&
                 copy_file_bytes(in, out.stream, 0, id.size, &write_failed) == id.size &&
                 !write_failed;
        copied = output_finish(&out, copied) == 0;
    }
    std::fclose(in);
    return copied ? 0 : -1;
}

#ifndef _WIN32

// The old .bak file of a large run is released in two parts off the run's
// own path: its cached pages by a thread while the copy goes on, and its
// blocks, once the commit has replaced it, by a process of its own that
// holds the last descriptor of it when this one ends. For a file of tens
// of megabytes each takes the main job several per cent of its time
// (bench/README.md). Its content stays until the commit, so a run that
// fails leaves it as it was.
constexpr off_t ASIDE_SIZE = off_t(1) << 20;  // smaller files: a thread costs more than they do
int old_fd = -1;
pthread_t releaser;
bool releasing = false;

void *release_cached_pages(void *)
{
    (void)posix_fadvise(old_fd, 0, 0, POSIX_FADV_DONTNEED);
    return nullptr;
}

// The child keeps only the old file's descriptor and ends with its parent:
// the system then releases the file's blocks in the child's end, not in
// the run's, which build tools wait for.
void hand_over_old_file()
{
#ifdef __linux__
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        // Only calls that are safe after fork in a program with threads.
        (void)close_range(0, unsigned(old_fd) - 1, 0);
        (void)close_range(unsigned(old_fd) + 1, ~0u, 0);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && getppid() == parent)
            for (;;)
                pause();
        _exit(0);
    }
#endif
    close(old_fd);
}

#endif

}  // namespace

int prepare_backup(const char *bak)
{
#ifndef _WIN32
    int saved_errno = errno;
    struct stat st;
    if (lstat(bak, &st) != 0)
        return -1;
    int fd = -1;
    if (S_ISREG(st.st_mode) && st.st_size >= ASIDE_SIZE)
        fd = open(bak, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        old_fd = fd;
        releasing = pthread_create(&releaser, nullptr, release_cached_pages, nullptr) == 0;
    }
    errno = saved_errno;
    return 0;
#else
    struct _stat64 st;
    return _stat64(bak, &st) == 0 ? 0 : -1;
#endif
}

void finish_backup_release(bool replaced)
{
#ifndef _WIN32
    if (releasing)
        pthread_join(releaser, nullptr);
    releasing = false;
    if (old_fd < 0)
        return;
    int saved_errno = errno;
    struct stat st;
    // Replaced: the descriptor is the last that keeps the file.
    if (replaced && fstat(old_fd, &st) == 0 && st.st_nlink == 0)
        hand_over_old_file();
    else
        close(old_fd);
    old_fd = -1;
    errno = saved_errno;
#else
    (void)replaced;
#endif
}

int stage_backup(const char *input, const char *bak)
{
    int saved_errno = errno;
    char name[PATH_BUFFER_SIZE + 64];
    if (link_temporary_file(input, bak, name, sizeof name)) {
        stage_scratch_file(name, bak);
        return 0;
    }
    errno = saved_errno;
    return stage_copy(input, bak);
}
