// Command 2: sizing the module image, loading the input, checking the module
// and setting its CRC; and the loader of plain module files.
#include "module/image_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "module/entries.h"
#include "module/loader_input.h"
#include "module/module_file.h"
#include "module/module_format.h"
#include "module/raw_package.h"
#include "module_layout.h"
#include "options.h"
#include "platform/image_memory.h"
#include "platform/output_file.h"
#include "state.h"
#include "status.h"

namespace {

constexpr uint32_t PIECE = 1024;
constexpr uint32_t SMALL_FILE_CAPACITY = 1028;
constexpr uint32_t R9500_CAPACITY = 0x48000;
// A module's size is a 32-bit field; a larger capacity is of no use and would
// overflow the block length.
constexpr uint64_t CAPACITY_LIMIT = 0xFFFF0000u;
// Room of the block behind the capacity, in units of 16 bytes: 32 bytes,
// or 320 for the header and name that raw packaging puts in front of the data.
constexpr uint32_t SPARE_UNITS = 2;
constexpr uint32_t RAW_SPARE_UNITS = 20;

// Size of the input file, which must be there to be opened; the loader
// opens it again itself. Returns 0, errno or STATUS_NO_IMAGE, with the message.
int32_t input_file_size(const char *path, uint64_t *size)
{
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        int32_t err = errno;
        std::printf("Unable to open input file %s\n", path);
        return err;
    }
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) != 0 || (end = std::ftell(f)) < 0) {
        std::printf("Error in fseek SEEK_END %d\n", errno);
        std::fclose(f);
        return STATUS_NO_IMAGE;
    }
    std::fclose(f);
    *size = uint64_t(end);
    return STATUS_OK;
}

// Allocates the image block of block bytes, preset to FF as erased flash.
int32_t allocate_image(uint32_t block)
{
    free_image();  // the image of a module built before in the run
    uint8_t *bytes = allocate_image_block(block);
    if (!bytes) {
        std::printf("Memory allocation problem\n");
        return STATUS_NO_IMAGE;
    }
    open_flags |= IMAGE_ALLOCATED;
    module_image = bytes;
    image_block_size = block;
    std::memset(module_image, 0xFF, block);
    return STATUS_OK;
}

// Runs the loader that the input type selects.
int32_t load_input(const RecordFileLoader &record_loader, const InfoFileReader &read_info,
                   uint32_t capacity, uint32_t block)
{
    if (options & OPT_IN_BIN)
        return load_bin(input_path, module_image, capacity, block);
    if (options & OPT_IN_RAW)
        return package_raw(input_path, module_image, capacity, block, info_file_name, read_info);
    int32_t rc = record_loader.load(record_loader.findings, input_path, module_image, capacity, block);
    if (rc == 0 && verbose())
        std::printf("Record size [%08lx] ", static_cast<unsigned long>(loaded_bytes));
    return rc;
}

// The summary line of the module, which a JSON report carries as fields.
void print_summary_line()
{
    if (options & OPT_JSON)
        return;
    std::printf(" %*.*s CRC %04X Size %ld Type %02x Version %04X\n", 8, 8,
                reinterpret_cast<const char *>(summary.tag), unsigned(get_be16(summary.crc)),
                long(int32_t(get_be32(summary.size))), unsigned(summary.type),
                unsigned(get_be16(summary.version)));
}

// The four bytes after the declared end of the module, for the format
// problem message. Bytes outside the block read as erased flash (FF).
uint32_t word_after_module(const uint8_t *image, uint32_t block, uint32_t size)
{
    uint32_t word = 0;
    for (uint32_t i = 0; i < 4; i++) {
        uint64_t at = uint64_t(size) + i;
        word = (word << 8) | (at < block ? image[at] : 0xFF);
    }
    return word;
}

// Checks the loaded module and stores its CRC, or reports why not. Under
// -k nothing is stored: the stored CRC is only compared.
int32_t check_and_set_crc(uint32_t block)
{
    int32_t rc = check_module(module_image, block);
    if (rc != 0) {
        uint32_t size = get_be32(module_image + HDR_SIZE);
        std::printf("Module format problem %04X %08lX %08lX\n", unsigned(rc),
                    static_cast<unsigned long>(size),
                    static_cast<unsigned long>(word_after_module(module_image, block, size)));
        return rc;
    }
    uint16_t stored = get_be16(module_image + HDR_CRC);
    uint16_t computed = get_be16(summary.crc);
    if (stored != CRC_UNSET && stored != computed)
        std::printf("Crc difference - Original %04x - Calculated %04x\n", unsigned(stored),
                    unsigned(computed));
    if (!(options & OPT_CHECK)) {
        put_be16(module_image + HDR_CRC, computed);
        return STATUS_OK;
    }
    if (stored == computed)
        std::printf("Crc correct - %04x\n", unsigned(stored));
    else if (stored == CRC_UNSET)
        std::printf("Crc not set - Calculated %04x\n", unsigned(computed));
    return stored == computed ? STATUS_OK : ERR_CRC_WRONG;
}

// Reads a module file of at most capacity bytes into the image in pieces
// of 1024 bytes; *total is the number of bytes read.
int32_t read_module_file(FILE *f, uint8_t *image, uint32_t capacity, uint64_t *total)
{
    auto *buffer = static_cast<uint8_t *>(std::malloc(PIECE + 4));
    if (!buffer)
        return ERR_NO_MEMORY;
    int32_t status = STATUS_OK;
    size_t n;
    do {
        n = std::fread(buffer, 1, PIECE, f);
        if (*total + n > capacity)
            status = ERR_IMAGE_FIT;
        else
            std::memcpy(image + *total, buffer, n);
        *total += n;
    } while (status == STATUS_OK && n == PIECE);
    if (!std::feof(f))
        status = ERR_READ_SHORT;
    std::free(buffer);
    return status;
}

// Stamps the serial number (and the type text) into the entry list of a
// loaded module and sets its CRC. The list runs from data_offset to the
// trailer; an entry is appended only where the module has unused bytes in
// front of the trailer, so the stamping never overwrites module content.
int32_t stamp_module(uint8_t *image, uint32_t block, uint64_t loaded, bool *stamped)
{
    // Under -u the image may still hold the old layout, whose data offset
    // is not at offset 32; the upgrade runs only later, inside the check.
    if (options & OPT_UPGRADE) {
        std::printf("Serial number and upgrade cannot be combined\n");
        return ERR_ENTRY_ROOM;
    }
    // A module that fails the format check is not stamped and its file not
    // rewritten; the check that follows the load reports it.
    if (check_module(image, block) != STATUS_OK)
        return STATUS_OK;
    uint32_t size = get_be32(image + HDR_SIZE);
    uint32_t data_offset = get_be32(image + HDR_DATA_OFFSET);
    if (size > loaded || data_offset < HEADER_SIZE || data_offset > size - TRAILER_SIZE)
        return ERR_ENTRY_ROOM;

    uint8_t *trailer = image + size - TRAILER_SIZE;
    EntryArea area{image + data_offset, trailer, trailer, trailer};
    uint32_t length = 0;
    int32_t rc = stamp_entries(area, &length);
    if (rc != STATUS_OK)
        return rc;
    put_be16(image + HDR_CRC, module_crc(image, block));
    *stamped = true;
    return STATUS_OK;
}

}  // namespace

uint32_t image_capacity(uint64_t n)
{
    if (!(options & (OPT_IN_NOT_TEXT | OPT_IN_ELF)))
        n >>= 1;  // record text takes two characters per byte
    if (n < PIECE)
        n = SMALL_FILE_CAPACITY;
    if (options & OPT_IN_R9500)
        n = R9500_CAPACITY;
    if (options & OPT_UPGRADE)
        n += UPGRADE_GROWTH;
    if (n > CAPACITY_LIMIT)
        n = CAPACITY_LIMIT;
    return uint32_t(n);
}

int32_t build_image(const RecordFileLoader &record_loader, const InfoFileReader &read_info,
                    BuiltModule *built)
{
    uint64_t file_size = 0;
    if (int32_t rc = input_file_size(input_path, &file_size); rc != STATUS_OK)
        return rc;
    // An input whose module decides the image's size is sized by its
    // loader; one that cannot be sized gets the smallest image, for the
    // summary line of its failure.
    bool by_module = !(options & (OPT_IN_BIN | OPT_IN_RAW)) && record_loader.size;
    uint32_t capacity = image_capacity(file_size);
    int32_t sized = STATUS_OK;
    if (by_module) {
        sized = record_loader.size(record_loader.findings, input_path, file_size, &capacity);
        if (sized != STATUS_OK)
            capacity = image_capacity(0);
    }
    uint32_t units = capacity / 16 + ((options & OPT_IN_RAW) ? RAW_SPARE_UNITS : SPARE_UNITS);
    uint32_t block = units * 16;
    if (verbose())
        std::printf(" Alloc %lu [%08lx]", static_cast<unsigned long>(capacity),
                    static_cast<unsigned long>(block));
    if (int32_t rc = allocate_image(block); rc != STATUS_OK)
        return rc;

    int32_t rc = sized;
    if (sized == STATUS_OK)
        rc = load_input(record_loader, read_info, capacity, block);
    else
        fill_summary(module_image, block);
    print_summary_line();
    built->crc = get_be16(summary.crc);
    built->stored = get_be16(module_image + HDR_CRC);
    if ((options & OPT_IN_R9500) || rc != 0)
        return rc;
    return check_and_set_crc(block);
}

int32_t load_bin(const char *path, uint8_t *image, uint32_t capacity, uint32_t block)
{
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    uint64_t total = 0;
    int32_t status = read_module_file(f, image, capacity, &total);
    std::fclose(f);

    if (status == STATUS_OK && serial_mode != SERIAL_NONE &&
        (image[HDR_TYPE] & TYPE_ENTRY_LIST) == TYPE_ENTRY_LIST) {
        bool stamped = false;
        status = stamp_module(image, block, total, &stamped);
        if (stamped) {
            OutputFile out;
            // A module file that cannot be replaced leaves the summary cleared.
            if (int32_t rc = output_open(&out, path); rc != STATUS_OK)
                return rc;
            // The file holds either its old content or the whole module.
            bool written = write_module(out.stream, image, get_be32(image + HDR_SIZE));
            status = output_finish(&out, written);
        }
    }

    fill_summary(image, block);
    return status;
}
