// Writing a file through a temporary file and a rename.
#include "driver/output_file.h"

#include <cerrno>
#include <cstring>

#include "status.h"

namespace {

constexpr size_t OUTPUT_BUFFER_SIZE = 256 * 1024;

}  // namespace

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

int flush_to_disk(FILE *stream)
{
    if (std::fflush(stream) != 0)
        return -1;
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0 ? 0 : -1;
#else
    return fsync(fileno(stream)) == 0 ? 0 : -1;
#endif
}

int replace_file(const char *from, const char *to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
#else
    return std::rename(from, to);
#endif
}

int32_t output_open(OutputFile *out, const char *target)
{
    out->stream = nullptr;
    std::snprintf(out->target, sizeof out->target, "%s", target);
    std::snprintf(out->temp, sizeof out->temp, "%s.tarvel-tmp", target);

    // A target that exists must be writable, as opening it "wb" would demand.
    int saved_errno = errno;
    if (FILE *probe = std::fopen(target, "r+b"))
        std::fclose(probe);
    else if (errno != ENOENT)
        return errno;
    errno = saved_errno;  // a missing target is no error worth reporting later

    out->stream = std::fopen(out->temp, "wb");
    if (!out->stream)
        return errno;
    // Writers hand over small pieces (1 KiB for a bin file); collect them
    // into fewer system calls.
    std::setvbuf(out->stream, nullptr, _IOFBF, OUTPUT_BUFFER_SIZE);
#ifndef _WIN32
    struct stat st;
    if (stat(target, &st) == 0)
        chmod(out->temp, st.st_mode & 07777);
#endif
    return STATUS_OK;
}

int32_t output_commit(OutputFile *out)
{
    bool ok = flush_to_disk(out->stream) == 0;
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (ok && replace_file(out->temp, out->target) == 0)
        return STATUS_OK;
    std::remove(out->temp);
    return ERR_WRITE_SHORT;
}

void output_discard(OutputFile *out)
{
    if (out->stream)
        std::fclose(out->stream);
    out->stream = nullptr;
    std::remove(out->temp);
}
