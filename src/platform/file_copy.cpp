// Copying a stretch of one file into another.
#include "platform/file_copy.h"

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Pieces of the plain copy, and of copy_file_range so that writeback of one
// piece runs while the next is copied.
constexpr uint64_t PIECE = uint64_t(8) << 20;
constexpr size_t BUFFER_SIZE = size_t(256) << 10;
// Copies from this size on start their writeback while they go on.
constexpr uint64_t WRITEBACK_FROM = uint64_t(1) << 20;

// read and write through a buffer of our own.
uint64_t copy_through_buffer(FILE *in, FILE *out, uint64_t from, uint64_t length,
                             bool *write_failed)
{
    auto *buffer = static_cast<char *>(std::malloc(BUFFER_SIZE));
    if (!buffer) {
        *write_failed = true;
        return 0;
    }
    uint64_t done = 0;
    bool positioned = seek_to(in, from) == 0;
    while (positioned && done < length) {
        size_t want = length - done < BUFFER_SIZE ? size_t(length - done) : BUFFER_SIZE;
        size_t got = std::fread(buffer, 1, want, in);
        if (got == 0)
            break;
        size_t put = std::fwrite(buffer, 1, got, out);
        done += put;
        if (put != got) {
            *write_failed = true;
            break;
        }
    }
    std::free(buffer);
    return done;
}

}  // namespace

#ifdef _WIN32

bool file_identity(FILE *file, FileIdentity *id)
{
    struct _stat64 st;
    if (_fstat64(_fileno(file), &st) != 0)
        return false;
    *id = {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
           int64_t(st.st_mtime) * 1000000000};
    return true;
}

uint64_t copy_file_bytes(FILE *in, FILE *out, uint64_t from, uint64_t length, bool *write_failed)
{
    *write_failed = false;
    if (std::fflush(out) != 0) {
        *write_failed = true;
        return 0;
    }
    return copy_through_buffer(in, out, from, length, write_failed);
}

#else

bool file_identity(FILE *file, FileIdentity *id)
{
    struct stat st;
    if (fstat(fileno(file), &st) != 0)
        return false;
    *id = {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
           int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    return true;
}

uint64_t copy_file_bytes(FILE *in, FILE *out, uint64_t from, uint64_t length, bool *write_failed)
{
    *write_failed = false;
    if (std::fflush(out) != 0) {
        *write_failed = true;
        return 0;
    }
    int in_fd = fileno(in), out_fd = fileno(out);
    off_t out_at = lseek(out_fd, 0, SEEK_CUR);
    loff_t in_at = loff_t(from);
    uint64_t done = 0;
    while (done < length) {
        size_t want = length - done < PIECE ? size_t(length - done) : size_t(PIECE);
        ssize_t n = copy_file_range(in_fd, &in_at, out_fd, nullptr, want, 0);
        if (n < 0 && done == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            // The file systems cannot copy between themselves: do it here.
            done = copy_through_buffer(in, out, from, length, write_failed);
            break;
        }
        if (n <= 0) {
            *write_failed = n < 0;
            break;
        }
        // A small file is written back by the flush to disk at once.
        if (out_at >= 0 && length >= WRITEBACK_FROM)
            (void)sync_file_range(out_fd, out_at + off_t(done), off_t(n), SYNC_FILE_RANGE_WRITE);
        done += uint64_t(n);
    }
    // The stream learns where the file now ends.
    if (std::fseek(out, 0, SEEK_END) != 0)
        *write_failed = true;
    return done;
}

#endif

int seek_to(FILE *file, uint64_t at)
{
#ifdef _WIN32
    return _fseeki64(file, int64_t(at), SEEK_SET) == 0 ? 0 : -1;
#else
    return fseeko(file, off_t(at), SEEK_SET) == 0 ? 0 : -1;
#endif
}
