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
#include "platform/file_copy.h"
#include "platform/output_file.h"

namespace {

bool hard_link(const char *existing, const char *new_name)
{
#ifdef _WIN32
    return CreateHardLinkA(new_name, existing, nullptr) != 0;
#else
    return link(existing, new_name) == 0;
#endif
}

// Where a file system has no hard links: bak becomes a copy of input,
// written under a temporary name, put on disk, and renamed into place.
int copy_to_backup(const char *input, const char *bak)
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

// The descriptor that keeps the removed file alive, and the thread that
// closes it: the last close releases the file's pages and blocks, which for
// a file of tens of megabytes in the page cache takes the main job several
// per cent of its time (bench/README.md) that a second processor can take.
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
    int saved_errno = errno;
    if (hard_link(input, bak)) {
        note_directory_changed(bak);
        return 0;
    }
    errno = saved_errno;
    return copy_to_backup(input, bak);
}

int put_new_in_place(const char *new_path, const char *input) { return replace_file(new_path, input); }
