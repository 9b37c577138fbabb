// Creating the files a run writes into, exclusively and without following links.
#include "platform/new_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/durability.h"

namespace {

#ifdef _WIN32

// CREATE_NEW: the open fails on any name that exists, a link included.
// Shared for deletion, so that an interrupted run can remove a file it
// still holds open (it goes when the last handle closes).
int open_new(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
        case ERROR_DISK_FULL: errno = ENOSPC; break;
        default: errno = EACCES; break;
        }
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

int open_for_append(const char *path) { return _open(path, _O_WRONLY | _O_APPEND | _O_BINARY); }

// Only a file is removed; creating the name then fails on a directory.
void remove_file_at(const char *path)
{
    struct _stat st;
    if (_stat(path, &st) == 0 && (st.st_mode & _S_IFREG))
        _unlink(path);
}

FILE *stream_of(int fd, const char *mode) { return _fdopen(fd, mode); }
void close_fd(int fd) { _close(fd); }

#else

int open_new(const char *path)
{
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int open_for_append(const char *path)
{
    return open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
}

// Only a file or a link is removed (unlink removes a link itself, never
// what it points to); creating the name then fails on anything else that
// stands there, a directory or a device.
void remove_file_at(const char *path)
{
    struct stat st;
    if (lstat(path, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        (void)unlink(path);
}

FILE *stream_of(int fd, const char *mode) { return fdopen(fd, mode); }
void close_fd(int fd) { close(fd); }

#endif

FILE *stream_on(int fd, const char *mode)
{
    if (fd < 0)
        return nullptr;
    FILE *f = stream_of(fd, mode);
    if (!f) {
        int err = errno;
        close_fd(fd);
        errno = err;
    }
    return f;
}

}  // namespace

FILE *create_new_file(const char *path)
{
    FILE *f = stream_on(open_new(path), "wb");
    if (f)
        note_directory_changed(path);
    return f;
}

FILE *recreate_file(const char *path)
{
    int saved_errno = errno;
    remove_file_at(path);
    errno = saved_errno;
    return create_new_file(path);
}

FILE *append_existing_file(const char *path) { return stream_on(open_for_append(path), "ab"); }

void copy_permissions(const char *path, FILE *stream)
{
#ifdef _WIN32
    (void)path;
    (void)stream;
#else
    int saved_errno = errno;
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode))
        (void)fchmod(fileno(stream), st.st_mode & 07777);
    errno = saved_errno;
#endif
}

bool name_can_be_replaced(const char *path)
{
    int saved_errno = errno;
#ifdef _WIN32
    struct _stat64 st;
    bool directory = _stat64(path, &st) == 0 && (st.st_mode & _S_IFDIR);
#else
    struct stat st;
    bool directory = lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
#endif
    errno = saved_errno;
    return !directory;
}
