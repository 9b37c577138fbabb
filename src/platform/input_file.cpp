// Opening an input file that can really be read.
#include "platform/input_file.h"

#include <cerrno>

#include <sys/stat.h>

FILE *open_input_file(const char *path, const char *mode, bool *opened)
{
    FILE *f = std::fopen(path, mode);
    if (opened)
        *opened = f != nullptr;
    if (!f)
        return nullptr;
    int c = std::fgetc(f);
    if (c == EOF && std::ferror(f)) {
        int err = errno;
        std::fclose(f);
        errno = err;
        return nullptr;
    }
    std::rewind(f);
    return f;
}

const char *special_file_kind(const char *path)
{
    int saved_errno = errno;
#ifdef _WIN32
    struct _stat64 st;
    bool known = _stat64(path, &st) == 0;
    bool regular = known && (st.st_mode & (_S_IFREG | _S_IFDIR));
    const char *kind = !known || regular ? nullptr : (st.st_mode & _S_IFIFO) ? "a FIFO" : "a device";
#else
    struct stat st;
    bool known = stat(path, &st) == 0;
    const char *kind = !known || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? nullptr
                       : S_ISFIFO(st.st_mode)                                 ? "a FIFO"
                       : S_ISSOCK(st.st_mode)                                 ? "a socket"
                                                                              : "a device";
#endif
    errno = saved_errno;
    return kind;
}
