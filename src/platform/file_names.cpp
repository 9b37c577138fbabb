// Derived file names.
#include "platform/file_names.h"

#include <cstdio>
#include <cstring>

#include "path_limits.h"

const char *replace_extension(const char *name, const char *ext)
{
    static char result[PATH_BUFFER_SIZE + 8];
    size_t n = std::strlen(name);
    size_t look = n < 5 ? n : 5;
    size_t stem = n;  // characters kept before the new ".ext"
    for (size_t i = 1; i <= look; i++) {
        if (name[n - i] == '.') {
            stem = n - i;
            break;
        }
    }
    if (*ext)
        std::snprintf(result, sizeof result, "%.*s.%s", int(stem), name, ext);
    else
        std::snprintf(result, sizeof result, "%.*s", int(stem), name);
    return result;
}

size_t directory_length(const char *path)
{
    size_t n = std::strlen(path);
    while (n > 0 && path[n - 1] != '/'
#ifdef _WIN32
           && path[n - 1] != '\\'
#endif
    )
        n--;
    return n;
}

const char *base_name(const char *path)
{
    const char *p = path + std::strlen(path);
    while (p > path) {
        if (p[-1] == '\\' || p[-1] == '/')
            return p;
        p--;
    }
    return path;
}
