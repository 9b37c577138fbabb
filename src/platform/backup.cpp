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
    if (output_open(&out, bak) == 0) {
        bool write_failed = false;
        copied = file_identity(in, &id) &&
                 copy_file_bytes(in, out.stream, 0, id.size, &write_failed) == id.size &&
                 !write_failed;
        copied = output_finish(&out, copied) == 0;
    }
    std::fclose(in);
    return copied ? 0 : -1;
}

}  // namespace

int remove_old_backup(const char *bak) { return std::remove(bak); }

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
