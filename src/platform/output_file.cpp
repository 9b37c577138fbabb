// Writing a file through a temporary file and a rename.
#include "platform/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/durability.h"
#include "platform/new_file.h"
#include "platform/scratch_files.h"
#include "platform/run_lock.h"
#include "status.h"

namespace {

constexpr size_t OUTPUT_BUFFER_SIZE = 256 * 1024;

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

int32_t output_open(OutputFile *out, const char *target, const char *mode_from)
{
    out->stream = nullptr;
    out->buffer = nullptr;
    std::snprintf(out->target, sizeof out->target, "%s", target);
    if (int32_t rc = check_target_writable(target); rc != STATUS_OK)
        return rc;
    out->stream = create_temporary_file(target, out->temp, sizeof out->temp);
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

int32_t output_finish(OutputFile *out, bool written)
{
    bool ok = written && flush_to_disk(out->stream) == 0;
    // Locked before it is renamed over the target, so that a run waiting
    // for the target finds the new file locked too.
    if (ok)
        lock_new_file(out->stream);
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    std::free(out->buffer);
    out->buffer = nullptr;
    if (ok) {
        stage_scratch_file(out->temp, out->target);
        return STATUS_OK;
    }
    remove_scratch_file(out->temp);
    return ERR_WRITE_SHORT;
}
