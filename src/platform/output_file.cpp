// Writing a file through a temporary file and a rename.
#include "platform/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/durability.h"
#include "platform/file_names.h"
#include "platform/new_file.h"
#include "platform/scratch_files.h"
#include "platform/run_lock.h"
#include "status.h"

namespace {

constexpr size_t OUTPUT_BUFFER_SIZE = 256 * 1024;
// Names taken by leftovers of killed runs (or planted by someone else) are
// stepped over; this many in a row means something else is wrong.
constexpr unsigned TEMP_ATTEMPTS = 100;

unsigned temp_counter = 0;

unsigned long process_id()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// A target that exists must be writable, as opening it "wb" would demand.
// A link at the target is not followed: it is replaced by the rename.
int32_t check_target_writable(const char *target)
{
    int saved_errno = errno;
#ifdef _WIN32
    if (FILE *probe = std::fopen(target, "r+b")) {
        std::fclose(probe);
    } else if (errno != ENOENT) {
        return errno;
    }
#else
    int fd = open(target, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    else if (errno != ENOENT && errno != ELOOP && errno != ENXIO)
        return errno;
#endif
    errno = saved_errno;  // a missing target is no error worth reporting later
    return STATUS_OK;
}

}  // namespace

int replace_file(const char *from, const char *to)
{
#ifdef _WIN32
    bool ok = MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    bool ok = std::rename(from, to) == 0;
#endif
    if (!ok)
        return -1;
    forget_scratch_file(from);
    note_directory_changed(to);
    return 0;
}

int32_t output_open(OutputFile *out, const char *target, const char *mode_from)
{
    out->stream = nullptr;
    out->buffer = nullptr;
    std::snprintf(out->target, sizeof out->target, "%s", target);
    if (int32_t rc = check_target_writable(target); rc != STATUS_OK)
        return rc;

    // A short name of its own in the target's directory, whatever the
    // length of the target's name.
    int directory = int(directory_length(target));
    for (unsigned attempt = 0; attempt < TEMP_ATTEMPTS; attempt++) {
        std::snprintf(out->temp, sizeof out->temp, "%.*s.tarvel-%lu-%u.tmp", directory, target,
                      process_id(), temp_counter++);
        out->stream = create_scratch_file(out->temp, false);
        if (out->stream || errno != EEXIST)
            break;
    }
    if (!out->stream)
        return errno;
    // Writers hand over small pieces (1 KiB for a bin file); collect them
    // into fewer system calls. The buffer must be given: with none, the C
    // library takes the size of its own choosing (a 4 KiB block).
    out->buffer = static_cast<char *>(std::malloc(OUTPUT_BUFFER_SIZE));
    if (out->buffer)
        std::setvbuf(out->stream, out->buffer, _IOFBF, OUTPUT_BUFFER_SIZE);
    copy_permissions(mode_from ? mode_from : target, out->stream);
    return STATUS_OK;
}

int32_t output_commit(OutputFile *out)
{
    bool ok = flush_to_disk(out->stream) == 0;
    // Locked before the rename, so that a run waiting for the target finds
    // the new file locked too.
    if (ok)
        lock_new_file(out->stream);
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    std::free(out->buffer);
    out->buffer = nullptr;
    if (ok && replace_file(out->temp, out->target) == 0)
        return STATUS_OK;
    remove_scratch_file(out->temp);
    return ERR_WRITE_SHORT;
}

int32_t output_finish(OutputFile *out, bool written)
{
    if (written)
        return output_commit(out);
    output_discard(out);
    return ERR_WRITE_SHORT;
}

void output_discard(OutputFile *out)
{
    if (out->stream)
        std::fclose(out->stream);
    out->stream = nullptr;
    std::free(out->buffer);
    out->buffer = nullptr;
    remove_scratch_file(out->temp);
}
