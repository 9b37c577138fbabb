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

// Copies n bytes of in_fd from *in_at with copy_file_range, in pieces, to
// out_fd at its offset; sets *write_failed when a write failed. Returns the
// count copied, or UINT64_MAX when the file systems cannot copy between
// themselves before the first byte (the caller copies through a buffer).
uint64_t copy_range(int in_fd, loff_t *in_at, int out_fd, uint64_t n, bool writeback,
                    bool *write_failed)
{
    off_t out_at = lseek(out_fd, 0, SEEK_CUR);
    uint64_t done = 0;
    while (done < n) {
        size_t want = n - done < PIECE ? size_t(n - done) : size_t(PIECE);
        ssize_t k = copy_file_range(in_fd, in_at, out_fd, nullptr, want, 0);
        if (k < 0 && done == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return UINT64_MAX;
        if (k <= 0) {
            *write_failed = k < 0;
            break;
        }
        // A small file is written back by the flush to disk at once.
        if (out_at >= 0 && writeback)
            (void)sync_file_range(out_fd, out_at + off_t(done), off_t(k), SYNC_FILE_RANGE_WRITE);
        done += uint64_t(k);
    }
    return done;
}

// Where the next data of in_fd lies from at on, within end: a hole (a part
// never written, which reads as zeros) is passed over, so that a sparse
// file is copied as sparse, in the time its data takes. Systems that do not
// tell holes apart report all of the file as data.
uint64_t next_data(int in_fd, uint64_t at, uint64_t end)
{
    off_t data = lseek(in_fd, off_t(at), SEEK_DATA);
    if (data < 0)
        return errno == ENXIO ? end : at;  // ENXIO: only a hole is left
    return uint64_t(data) < end ? uint64_t(data) : end;
}

uint64_t hole_end(int in_fd, uint64_t at, uint64_t end)
{
    off_t hole = lseek(in_fd, off_t(at), SEEK_HOLE);
    if (hole < 0)
        return end;
    return uint64_t(hole) < end && uint64_t(hole) > at ? uint64_t(hole) : end;
}

uint64_t copy_file_bytes(FILE *in, FILE *out, uint64_t from, uint64_t length, bool *write_failed)
{
    *write_failed = false;
    if (std::fflush(out) != 0) {
        *write_failed = true;
        return 0;
    }
    int in_fd = fileno(in), out_fd = fileno(out);
    uint64_t end = from + length, at = from;
    // A small copy is done in one piece: a hole takes a block at least, and
    // asking where they lie costs more than it saves.
    bool large = length >= WRITEBACK_FROM;
    bool in_hole = false;
    while (at < end) {
        // A hole becomes a hole of the copy: its end is reached by seeking.
        uint64_t data = large ? next_data(in_fd, at, end) : at;
        if (data > at && lseek(out_fd, off_t(data - at), SEEK_CUR) < 0) {
            *write_failed = true;
            break;
        }
        in_hole = data > at;
        at = data;
        if (at == end)
            break;
        uint64_t want = (large ? hole_end(in_fd, at, end) : end) - at;
        loff_t in_at = loff_t(at);
        uint64_t n = copy_range(in_fd, &in_at, out_fd, want, large, write_failed);
        if (n == UINT64_MAX) {
            // The file systems cannot copy between themselves: do it here.
            at += copy_through_buffer(in, out, at, end - at, write_failed);
            break;
        }
        at += n;
        if (n < want || *write_failed)
            break;
    }
    // A copy that ends in a hole gives the file its length; the stream
    // learns where the file now ends.
    if (in_hole && !*write_failed && at == end) {
        off_t out_end = lseek(out_fd, 0, SEEK_CUR);
        if (out_end < 0 || ftruncate(out_fd, out_end) != 0)
            *write_failed = true;
    }
    if (std::fseek(out, 0, SEEK_END) != 0)
        *write_failed = true;
    return at - from;
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
