// Creating the files a run writes into, exclusively and without following links.
#include "platform/new_file.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/durability.h"

#ifdef _WIN32

namespace {

FILE *stream_on(int fd, const char *mode)
{
    if (fd < 0)
        return nullptr;
    FILE *f = _fdopen(fd, mode);
    if (!f) {
        int err = errno;
        _close(fd);
        errno = err;
    }
    return f;
}

}  // namespace

// CREATE_NEW semantics: the open fails on any name that exists, a link
// included.
FILE *create_new_file(const char *path)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    FILE *f = stream_on(fd, "wb");
    if (f)
        note_directory_changed(path);
    return f;
}

FILE *recreate_file(const char *path)
{
    int saved_errno = errno;
    struct _stat st;
    if (_stat(path, &st) == 0 && (st.st_mode & _S_IFREG))
        _unlink(path);
    errno = saved_errno;
    return create_new_file(path);
}

FILE *append_existing_file(const char *path)
{
    return stream_on(_open(path, _O_WRONLY | _O_APPEND | _O_BINARY), "ab");
}

#else

namespace {

FILE *stream_on(int fd, const char *mode)
{
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, mode);
    if (!f) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

}  // namespace

FILE *create_new_file(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE *f = stream_on(fd, "wb");
    if (f)
        note_directory_changed(path);
    return f;
}

FILE *recreate_file(const char *path)
{
    // Only a file or a link is removed (unlink removes a link itself, never
    // what it points to); creating the name then fails on anything else that
    // stands there, a directory or a device.
    int saved_errno = errno;
    struct stat st;
    if (lstat(path, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        (void)unlink(path);
    errno = saved_errno;
    return create_new_file(path);
}

FILE *append_existing_file(const char *path)
{
    return stream_on(open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC), "ab");
}

#endif
