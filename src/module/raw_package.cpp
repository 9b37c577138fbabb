// Packaging raw data into a new module: header and name from the info file,
// the raw data with its entry list stamped, the configuration records of
// generic.tmp, and the trailer.
#include "module/raw_package.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "cfg_file.h"
#include "module/entries.h"
#include "module/loader_input.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "platform/file_copy.h"
#include "platform/new_file.h"
#include "platform/output_file.h"
#include "state.h"
#include "status.h"
#include "summary.h"

namespace {

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
    uint64_t total;        // raw and generic.tmp bytes offered so far
    uint32_t pos;          // next free offset in the image
    uint32_t data_offset;  // where the raw data begins
    FILE *raw;             // the raw file, open for update
    bool new_file;         // the raw file had vanished and was created empty
    uint8_t *buffer;       // PIECE bytes for reading
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
                         uint32_t length)
{
    OutputFile out;
    if (output_open(&out, path) != 0) {
        std::fclose(*raw);
        *raw = nullptr;
        return ERR_WRITE_SHORT;
    }
    bool ok = std::fwrite(list, 1, length, out.stream) == length;
    if (ok && keep_rest) {
        FileIdentity raw_file;
        ok = file_identity(*raw, &raw_file);
        uint64_t rest = ok && raw_file.size > length ? raw_file.size - length : 0;
        bool write_failed = false;
        // The copy first writes out the list from the stream's buffer.
        ok = ok && copy_file_bytes(*raw, out.stream, length, rest, &write_failed) == rest &&
             !write_failed;
    }
    // Closed before the rename, which some systems refuse on an open file.
    std::fclose(*raw);
    *raw = nullptr;
    return output_finish(&out, ok);
}

// Appends the configuration records of this run: generic.tmp's successor,
// which takes its place when the run succeeds.
int32_t append_cfg_records(Packing *pk, uint8_t *buffer, int32_t status)
{
    FILE *f = std::fopen(cfg_file_name, "rb");
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

// The header and the name take the block's room in front of the capacity.
bool room_for_raw(uint32_t capacity, uint32_t block)
{
    return capacity >= MIN_CAPACITY && capacity <= block && block - capacity >= RAW_ROOM;
}

// Opens the raw file for update. A file that has vanished since it was
// sized is created new and empty, unless its serial number is to be
// incremented; an existing file is never truncated.
int32_t open_raw_file(const char *path, Packing *pk)
{
    pk->raw = std::fopen(path, "r+b");
    if (pk->raw)
        return STATUS_OK;
    int err = errno;
    if (serial_mode == SERIAL_INCREMENT || err != ENOENT)
        return err;
    // Created new: a file that appeared meanwhile is not truncated.
    pk->raw = create_new_file(path);
    if (!pk->raw)
        return errno;
    pk->new_file = true;
    return STATUS_OK;
}

// The fresh header with the values of the info file, and the name behind it.
void start_module(Packing *pk)
{
    uint8_t *image = pk->image;
    std::memcpy(image, fresh_header, HEADER_SIZE);
    put_be32(image + HDR_NAME_OFFSET, HEADER_SIZE);
    const char *name = summary.name[0] ? summary.name : NO_NAME;
    size_t length = name_length(name);
    std::memcpy(image + pk->pos, name, length);
    pk->pos += uint32_t(length);
    image[pk->pos++] = 0;
    zero_fill_to_4(pk);
    pk->data_offset = pk->pos;
    put_be32(image + HDR_DATA_OFFSET, pk->data_offset);
    set_header_fields(image);
}

// Copies the raw file behind the name; a new file has nothing to read.
int32_t read_raw_data(Packing *pk)
{
    if (pk->new_file)
        return ERR_READ_SHORT;
    int32_t status;
    size_t n;
    do {
        n = std::fread(pk->buffer, 1, PIECE, pk->raw);
        status = place_piece(pk, pk->buffer, n);
    } while (status == STATUS_OK && n == PIECE);
    if (!std::feof(pk->raw))
        status = ERR_READ_SHORT;
    return status;
}

// Stamps the serial number and the type text into the entry list at the
// start of the data, in the image; *list_length is then the list's new
// length (0 when nothing was stamped). Its outcome replaces the status of
// the read (a new file ends with 0 once its list is made). Data that was
// not read whole is not stamped: the list may be cut short, and writing it
// back could cover bytes never read.
int32_t stamp_raw_data(Packing *pk, int32_t status, uint32_t *list_length)
{
    *list_length = 0;
    if ((serial_mode == SERIAL_NONE && configuration[0] == 0) ||
        !(pk->new_file || status == STATUS_OK))
        return status;
    if ((pk->image[HDR_TYPE] & TYPE_ENTRY_LIST) != TYPE_ENTRY_LIST)
        return ERR_TYPE_BITS;
    // An append may run past the data into the block's free room, leaving
    // space for the trailer; inside the data it may only take unused bytes.
    uint8_t *start = pk->image + pk->data_offset;
    uint8_t *end = pk->image + pk->pos;
    EntryArea area{start, end, end, pk->image + pk->block - TRAILER_SIZE};
    status = stamp_entries(area, list_length);
    if (status == STATUS_OK)
        pk->pos = pk->data_offset + *list_length;
    return status;
}

// The trailer behind everything, and the size of the whole module.
void finish_module(Packing *pk)
{
    std::memcpy(pk->image + pk->pos, module_trailer, TRAILER_SIZE);
    put_be32(pk->image + HDR_SIZE, pk->pos + TRAILER_SIZE);
    fill_summary(pk->image, pk->block);
}

}  // namespace

int32_t package_raw(const char *path, uint8_t *image, uint32_t capacity, uint32_t block,
                    const char *info_path, const InfoFileReader &read_info)
{
    clear_summary_head();
    if (!room_for_raw(capacity, block))
        return ERR_IMAGE_FIT;
    int32_t status = read_info.read(read_info.context, info_path);
    if (status != STATUS_OK)
        return status;

    Packing pk{image, block, capacity, 0, HEADER_SIZE, 0, nullptr, false, nullptr};
    if (int32_t rc = open_raw_file(path, &pk); rc != STATUS_OK)
        return rc;
    pk.buffer = static_cast<uint8_t *>(std::malloc(PIECE + 4));
    if (!pk.buffer) {
        std::fclose(pk.raw);
        return ERR_NO_MEMORY;
    }

    start_module(&pk);
    status = read_raw_data(&pk);
    zero_fill_to_4(&pk);
    uint32_t list_length;
    status = stamp_raw_data(&pk, status, &list_length);
    if (cfg_created)
        status = append_cfg_records(&pk, pk.buffer, status);
    finish_module(&pk);
    // The stamped list goes back into the raw file only for a complete
    // module: a run that fails leaves the file, and its serial number, as
    // they were.
    if (list_length > 0 && status == STATUS_OK)
        status = write_entry_list(path, &pk.raw, !pk.new_file, image + pk.data_offset, list_length);

    if (pk.raw)
        std::fclose(pk.raw);
    std::free(pk.buffer);
    return status;
}
