// Opening an input file that can really be read.
#include "platform/input_file.h"

#include <cerrno>

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
