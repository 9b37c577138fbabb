// Derived file names and the file pair of the CRC patch copy.
#include "platform/file_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "options.h"
#include "platform/new_file.h"
#include "platform/run_lock.h"
#include "state.h"

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

int32_t open_file_pair(const char *in_path, const char *out_path)
{
    pair_in = std::fopen(in_path, "rb");
    if (!pair_in) {
        int32_t err = errno;
        std::printf("Unable to open input file %s\n", in_path);
        return err;
    }
    open_flags |= OPEN_IN_FILE;
    // A fixed name: whatever stands there is removed, so that a planted
    // link cannot make the copy write into another file.
    pair_out = recreate_file(out_path);
    if (!pair_out) {
        int32_t err = errno;
        std::printf("Unable to open output file %s\n", out_path);
        std::fclose(pair_in);
        pair_in = nullptr;
        open_flags &= ~OPEN_IN_FILE;
        return err;
    }
    open_flags |= OPEN_OUT_FILE;
    // The copy is renamed over the input later; the lock goes with it.
    lock_new_file(pair_out);
    return 0;
}

int close_file_pair()
{
    int rc = 0;
    if (open_flags & OPEN_IN_FILE) {
        std::fclose(pair_in);
        pair_in = nullptr;
        open_flags &= ~OPEN_IN_FILE;
    }
    if (open_flags & OPEN_OUT_FILE) {
        if (std::fclose(pair_out) != 0)
            rc = -1;
        pair_out = nullptr;
        open_flags &= ~OPEN_OUT_FILE;
    }
    return rc;
}
