// Keeping the .bak file and putting the patched record file in place.
#include "platform/backup.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
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

}  // namespace

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
