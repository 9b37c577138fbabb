// Writing the module as an Intel HEX file.
#include "records/hex_writer.h"

#include "byte_order.h"
#include "module/module_format.h"
#include "platform/file_names.h"
#include "platform/output_file.h"
#include "records/hex.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

constexpr uint8_t TYPE_DATA = 0x00;
constexpr uint8_t TYPE_END = 0x01;
constexpr uint8_t TYPE_LINEAR_BASE = 0x04;
constexpr uint32_t SEGMENT = 0x10000;

// One record: ":", count, address, type, data, checksum, line feed.
bool put_record(FILE *file, uint16_t address, uint8_t type, const uint8_t *data, uint32_t count)
{
    uint8_t bytes[4 + 255];
    bytes[0] = uint8_t(count);
    put_be16(bytes + 1, address);
    bytes[3] = type;
    for (uint32_t i = 0; i < count; i++)
        bytes[4 + i] = data[i];
    char line[1 + 2 * (5 + 255) + 1];
    line[0] = ':';
    uint32_t n = 4 + count;
    for (uint32_t i = 0; i < n; i++)
        byte_to_hex(bytes[i], line + 1 + 2 * i);
    byte_to_hex(uint8_t(-byte_sum(bytes, int32_t(n))), line + 1 + 2 * n);
    line[1 + 2 * (n + 1)] = '\n';
    size_t length = 1 + 2 * (n + 1) + 1;
    return std::fwrite(line, 1, length, file) == length;
}

}  // namespace

int32_t write_hex(FILE *file, const uint8_t *image, uint32_t block)
{
    uint32_t length;
    if (!module_in_block(image, block, &length))
        return ERR_WRITE_SHORT;
    bool first = true;
    uint16_t upper = 0;
    for (uint32_t offset = 0; offset < length;) {
        uint32_t address = link_address + offset;  // 32-bit: wraps as the field does
        if (first || uint16_t(address >> 16) != upper) {
            upper = uint16_t(address >> 16);
            uint8_t value[2];
            put_be16(value, upper);
            if (!put_record(file, 0, TYPE_LINEAR_BASE, value, 2))
                return ERR_WRITE_SHORT;
            first = false;
        }
        // A record ends at the end of the module or of its 64 KiB segment.
        uint32_t count = HEX_RECORD_BYTES;
        if (count > length - offset)
            count = length - offset;
        if (count > SEGMENT - (address & 0xFFFF))
            count = SEGMENT - (address & 0xFFFF);
        if (!put_record(file, uint16_t(address), TYPE_DATA, image + offset, count))
            return ERR_WRITE_SHORT;
        offset += count;
    }
    return put_record(file, 0, TYPE_END, nullptr, 0) ? STATUS_OK : ERR_WRITE_SHORT;
}

int32_t write_hex_file(const char *path, const uint8_t *image, uint32_t block)
{
    OutputFile out;
    int32_t rc = output_open(&out, replace_extension(path, "hex"));
    if (rc != 0)
        return rc;
    return output_finish(&out, write_hex(out.stream, image, block) == STATUS_OK);
}
