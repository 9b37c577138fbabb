// The thd summary file and the bin module file.
#include "module/thd_bin.h"

#include <cstring>

#include "byte_order.h"
#include "module/module_file.h"
#include "module/module_format.h"
#include "platform/file_names.h"
#include "platform/output_file.h"
#include "status.h"

namespace {

// A module whose header_mark is FF FF keeps other values in its header:
//
//   RECORD OFFSET  WIDTH  FROM THE MODULE
//   0              6      tag bytes 20..25
//   6              2      offset 36 when type has 0x20, else offset 64
//   8              4      offsets 28..31
//   12             1      six bytes after the 16-bit value (42 or 70)
//   13             7      zero
constexpr uint32_t OTHER_VALUE_WITH_20 = 36;
constexpr uint32_t OTHER_VALUE_WITHOUT_20 = 64;
constexpr uint32_t OTHER_BYTE_DISTANCE = 6;
constexpr uint32_t OTHER_KIND_MIN_BLOCK = OTHER_VALUE_WITHOUT_20 + OTHER_BYTE_DISTANCE + 1;

}  // namespace

void make_thd(uint8_t record[THD_RECORD_SIZE], const uint8_t *image, uint32_t block)
{
    std::memset(record, 0, THD_RECORD_SIZE);
    if (block < HEADER_SIZE)
        return;
    if (get_be16(image + HDR_MARK) != MARK_OTHER_KIND) {
        std::memcpy(record + THD_TAG, image + HDR_TAG, TAG_SIZE);
        std::memcpy(record + THD_VERSION, image + HDR_VERSION, 2);
        std::memcpy(record + THD_CRC, image + HDR_CRC, 2);
        std::memcpy(record + THD_SIZE, image + HDR_SIZE, 4);
        record[THD_TYPE] = image[HDR_TYPE];
        return;
    }
    std::memcpy(record, image + HDR_TAG, 6);
    if (block < OTHER_KIND_MIN_BLOCK)
        return;
    uint32_t at = (image[HDR_TYPE] & TYPE_ALT_THD) ? OTHER_VALUE_WITH_20 : OTHER_VALUE_WITHOUT_20;
    std::memcpy(record + 6, image + at, 2);
    std::memcpy(record + 8, image + HDR_NAME_OFFSET, 4);
    record[12] = image[at + OTHER_BYTE_DISTANCE];
}

int32_t write_thd_file(const char *path, const uint8_t *image, uint32_t block)
{
    OutputFile out;
    int32_t rc = output_open(&out, replace_extension(path, "thd"));
    if (rc != 0)
        return rc;
    uint8_t record[THD_RECORD_SIZE];
    make_thd(record, image, block);
    bool written = std::fwrite(record, 1, THD_RECORD_SIZE, out.stream) == THD_RECORD_SIZE;
    return output_finish(&out, written) == 0 ? STATUS_OK : STATUS_FAILED;
}

int32_t write_bin_file(const char *path, const uint8_t *image, uint32_t block)
{
    OutputFile out;
    int32_t rc = output_open(&out, replace_extension(path, "bin"));
    if (rc != 0)
        return rc;
    uint32_t length;
    bool in_block = module_in_block(image, block, &length);
    return output_finish(&out, in_block && write_module(out.stream, image, length));
}
