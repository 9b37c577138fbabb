// Flushing files and directories to disk.
#include "platform/durability.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "path_limits.h"
#include "platform/file_names.h"

namespace {

// A run changes names in one directory, or two when generic.tmp lies in
// the working directory and the module elsewhere.
constexpr int MAX_DIRECTORIES = 4;
char directories[MAX_DIRECTORIES][PATH_BUFFER_SIZE + 32];
int directory_count = 0;
uint32_t change_count = 0;

}  // namespace

void directory_of(const char *path, char *out, size_t size)
{
    size_t n = directory_length(path);
    if (n == 0) {
        std::snprintf(out, size, ".");
        return;
    }
    size_t keep = n > 1 ? n - 1 : 1;  // drop the separator, but keep a lone root
    std::snprintf(out, size, "%.*s", int(keep), path);
}

int flush_to_disk(FILE *stream)
{
    if (std::fflush(stream) != 0)
        return -1;
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0 ? 0 : -1;
#else
    return fsync(fileno(stream)) == 0 ? 0 : -1;
#endif
}

void note_directory_changed(const char *path)
{
    change_count++;
    char dir[sizeof directories[0]];
    directory_of(path, dir, sizeof dir);
    for (int i = 0; i < directory_count; i++)
        if (std::strcmp(directories[i], dir) == 0)
            return;
    if (directory_count < MAX_DIRECTORIES)
        std::memcpy(directories[directory_count++], dir, sizeof dir);
}

uint32_t directory_changes() { return change_count; }

int32_t sync_changed_directories(const char **failed)
{
    int32_t status = 0;
#ifndef _WIN32
    for (int i = 0; i < directory_count && status == 0; i++) {
        int fd = open(directories[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || fsync(fd) != 0) {
            status = errno;
            *failed = directories[i];
        }
        if (fd >= 0)
            close(fd);
    }
#else
    (void)failed;
#endif
    forget_changed_directories();
    return status;
}

void forget_changed_directories()
{
    directory_count = 0;
    change_count = 0;
}
