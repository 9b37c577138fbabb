// Packaging raw data into a new module: header and name from the info file,
// the raw data with its entry list stamped, the configuration records of
// generic.tmp, and the trailer.
#include "module/raw_package.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "driver/info_file.h"
#include "module/entries.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "platform/new_file.h"
#include "platform/output_file.h"
#include "state.h"
#include "status.h"
#include "summary.h"

namespace {

constexpr uint32_t MIN_CAPACITY = 68;
constexpr uint32_t PIECE = 1024;
// Header, the longest name with its terminator, and the trailer live in the
// block outside the capacity.
constexpr uint32_t RAW_ROOM = HEADER_SIZE + NAME_CAPACITY + TRAILER_SIZE;
constexpr const char *NO_NAME = "No name given";

// Where the module is being built and how much of the capacity is used.
struct Packing {
    uint8_t *image;
    uint32_t block;
    uint32_t capacity;
    uint64_t total;  // raw and generic.tmp bytes offered so far
    uint32_t pos;    // next free offset in the image
};

// Places one piece of raw data or of generic.tmp at pk->pos. A piece that
// takes the total beyond the capacity, or would leave no room for the
// trailer in the block, is not copied.
int32_t place_piece(Packing *pk, const uint8_t *piece, size_t n)
{
    pk->total += n;
    if (pk->total > pk->capacity || uint64_t(pk->pos) + n > pk->block - TRAILER_SIZE)
        return ERR_IMAGE_FIT;
    std::memcpy(pk->image + pk->pos, piece, n);
    pk->pos += uint32_t(n);
    return STATUS_OK;
}

size_t name_length(const char *name)
{
    const void *zero = std::memchr(name, 0, NAME_CAPACITY - 1);
    return zero ? size_t(static_cast<const char *>(zero) - name) : NAME_CAPACITY - 1;
}

void zero_fill_to_4(Packing *pk)
{
    while (pk->pos & 3)
        pk->image[pk->pos++] = 0;
}

// Header fields from the summary, each only when it is not zero.
void set_header_fields(uint8_t *image)
{
    if (summary.tag[0] != 0)
        std::memcpy(image + HDR_TAG, summary.tag, TAG_SIZE);
    if (summary.version[0] != 0 || summary.version[1] != 0)
        std::memcpy(image + HDR_VERSION, summary.version, 2);
    if (summary.type != 0)
        image[HDR_TYPE] = summary.type;
    if (summary.number != 0) {
        image[HDR_NUMBER] = uint8_t(summary.number);
        image[HDR_NUMBER_HIGH] = 0;
    }
}

// Puts the stamped entry list over the start of the raw file. The file is
// replaced as a whole through a temporary file: the list's bytes, then the
// file's own bytes from that length on, so it is never shortened and never
// left half-written. Closes the raw file.
int32_t write_entry_list(const char *path, FILE **raw, bool keep_rest, const uint8_t *list,
                         uint32_t length, uint8_t *buffer)
{
    OutputFile out;
    if (output_open(&out, path) != 0) {
        std::fclose(*raw);
        *raw = nullptr;
        return ERR_WRITE_SHORT;
    }
    bool ok = std::fwrite(list, 1, length, out.stream) == length;
    if (ok && keep_rest) {
        ok = std::fseek(*raw, long(length), SEEK_SET) == 0;
        size_t n;
        while (ok && (n = std::fread(buffer, 1, PIECE, *raw)) > 0)
            ok = std::fwrite(buffer, 1, n, out.stream) == n;
        ok = ok && !std::ferror(*raw);
    }
    // Closed before the rename, which some systems refuse on an open file.
    std::fclose(*raw);
    *raw = nullptr;
    if (!ok) {
        output_discard(&out);
        return ERR_WRITE_SHORT;
    }
    return output_commit(&out);
}

// Appends generic.tmp, the configuration records of this run.
int32_t append_cfg_records(Packing *pk, uint8_t *buffer, int32_t status)
{
    FILE *f = std::fopen(CFG_FILE_NAME, "rb");
    if (!f)
        return ERR_CFG_FILE;
    size_t n;
    do {
        n = std::fread(buffer, 1, PIECE, f);
        if (place_piece(pk, buffer, n) != STATUS_OK)
            status = ERR_IMAGE_FIT;
    } while (n == PIECE && status == STATUS_OK);
    std::fclose(f);
    return status;
}

}  // namespace

int32_t package_raw(const char *path, uint8_t *image, uint32_t capacity, uint32_t block,
                    const char *info_path)
{
    clear_summary_head();
    if (capacity < MIN_CAPACITY || capacity > block || block - capacity < RAW_ROOM)
        return ERR_IMAGE_FIT;

    int32_t status = read_info_file(info_path);
    if (status != STATUS_OK)
        return status;

    bool new_file = false;
    FILE *raw = std::fopen(path, "r+b");
    if (!raw) {
        int err = errno;
        if (serial_mode == SERIAL_INCREMENT || err != ENOENT)
            return err;  // an existing file is never truncated
        // Created new: a file that appeared meanwhile is not truncated.
        raw = create_new_file(path);
        if (!raw)
            return errno;
        new_file = true;
    }
    auto *buffer = static_cast<uint8_t *>(std::malloc(PIECE + 4));
    if (!buffer) {
        std::fclose(raw);
        return ERR_NO_MEMORY;
    }

    std::memcpy(image, fresh_header, HEADER_SIZE);
    put_be32(image + HDR_NAME_OFFSET, HEADER_SIZE);
    const char *name = summary.name[0] ? summary.name : NO_NAME;
    size_t length = name_length(name);
    Packing pk{image, block, capacity, 0, HEADER_SIZE};
    std::memcpy(image + pk.pos, name, length);
    pk.pos += uint32_t(length);
    image[pk.pos++] = 0;
    zero_fill_to_4(&pk);
    const uint32_t data_offset = pk.pos;
    put_be32(image + HDR_DATA_OFFSET, data_offset);
    set_header_fields(image);

    if (new_file) {
        status = ERR_READ_SHORT;  // nothing to read
    } else {
        size_t n;
        do {
            n = std::fread(buffer, 1, PIECE, raw);
            status = place_piece(&pk, buffer, n);
        } while (status == STATUS_OK && n == PIECE);
        if (!std::feof(raw))
            status = ERR_READ_SHORT;
    }
    zero_fill_to_4(&pk);

    // Stamping. Data that was not read whole is not stamped: the entry list
    // may be cut short, and writing it back could cover bytes never read.
    if ((serial_mode != SERIAL_NONE || configuration[0] != 0) &&
        (new_file || status == STATUS_OK)) {
        if ((image[HDR_TYPE] & TYPE_ENTRY_LIST) != TYPE_ENTRY_LIST) {
            status = ERR_TYPE_BITS;
        } else {
            // An append may run past the data into the block's free room,
            // leaving space for the trailer; inside the data it may only
            // take unused bytes.
            uint8_t *start = image + data_offset;
            EntryArea area{start, image + pk.pos, image + pk.pos, image + block - TRAILER_SIZE};
            uint32_t list_length = 0;
            status = stamp_entries(area, &list_length);
            if (status == STATUS_OK) {
                status = write_entry_list(path, &raw, !new_file, start, list_length, buffer);
                pk.pos = data_offset + list_length;
            }
        }
    }

    if (cfg_created)
        status = append_cfg_records(&pk, buffer, status);

    std::memcpy(image + pk.pos, module_trailer, TRAILER_SIZE);
    put_be32(image + HDR_SIZE, pk.pos + TRAILER_SIZE);
    fill_summary(image, block);

    if (raw)
        std::fclose(raw);
    std::free(buffer);
    return status;
}
