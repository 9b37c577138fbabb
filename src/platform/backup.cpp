// Keeping the .bak file and putting the patched record file in place.
#include "platform/backup.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/durability.h"
#include "platform/output_file.h"

namespace {

// keep_backup fell back to renaming the input away.
bool input_moved = false;

bool hard_link(const char *existing, const char *new_name)
{
#ifdef _WIN32
    return CreateHardLinkA(new_name, existing, nullptr) != 0;
#else
    return link(existing, new_name) == 0;
#endif
}

#ifndef _WIN32

// The descriptor that keeps the removed file alive, and the thread that
// closes it: the last close releases the file's pages and blocks, which for
// a file of tens of megabytes in the page cache takes milliseconds.
int removed_fd = -1;
// Smaller files are released at once: a thread costs more than they do.
constexpr off_t ASIDE_SIZE = off_t(1) << 20;
pthread_t releaser;
bool releasing = false;

void *release_removed(void *)
{
    close(removed_fd);
    return nullptr;
}

#endif

}  // namespace

int remove_old_backup(const char *bak)
{
#ifndef _WIN32
    int saved_errno = errno;
    int fd = open(bak, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < ASIDE_SIZE)) {
        close(fd);
        fd = -1;
    }
    errno = saved_errno;
    int rc = std::remove(bak);
    if (fd < 0)
        return rc;
    int err = errno;
    removed_fd = fd;
    if (rc != 0 || pthread_create(&releaser, nullptr, release_removed, nullptr) != 0)
        close(fd);  // removal failed, or no thread: released here
    else
        releasing = true;
    errno = err;
    return rc;
#else
    return std::remove(bak);
#endif
}

void finish_backup_removal()
{
#ifndef _WIN32
    if (releasing)
        pthread_join(releaser, nullptr);
    releasing = false;
#endif
}

int keep_backup(const char *input, const char *bak)
{
    input_moved = false;
    int saved_errno = errno;
    if (hard_link(input, bak)) {
        note_directory_changed(bak);
        return 0;
    }
    errno = saved_errno;
    // The rename refuses an existing bak name on Windows, as the old
    // sequence always did; the caller has removed it.
    if (std::rename(input, bak) != 0)
        return -1;
    input_moved = true;
    note_directory_changed(bak);
    return 0;
}

int put_new_in_place(const char *new_path, const char *input, const char *bak)
{
    if (!input_moved)
        return replace_file(new_path, input);
    if (std::rename(new_path, input) == 0) {
        note_directory_changed(input);
        return 0;
    }
    int err = errno;
    std::rename(bak, input);
    errno = err;
    return -1;
}
