// Module layout constants, the module CRC, the format check and the summary.
#include "module/module_format.h"

#include <cstring>

#include "byte_order.h"
#include "module/crc16.h"
#include "module/upgrade.h"
#include "module_layout.h"
#include "options.h"
#include "state.h"
#include "status.h"

// CRC unset, header_mark 7F FF, the magic, numeric fields 0, tag "DATADATA".
const uint8_t fresh_header[HEADER_SIZE] = {
    0xFF, 0xFF, 0x7F, 0xFF, 0x87, 0xCD, 0xF0, 0x0F,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    'D', 'A', 'T', 'A', 'D', 'A', 'T', 'A',
    0, 0, 0, 0, 0, 0, 0, 0};

const uint8_t module_trailer[TRAILER_SIZE] = {0x5A, 0x69, 0x0F, 0xF0};

uint16_t module_crc(const uint8_t *image, uint32_t block)
{
    if (block < HEADER_SIZE)
        return 0;
    uint32_t end;  // one past the last covered byte
    if (image[HDR_TYPE] & TYPE_CRC_HEADER_ONLY)
        end = HEADER_SIZE;
    else
        end = get_be32(image + HDR_SIZE);
    if (end > block)
        end = block;
    if (end <= HDR_MAGIC)
        return 0;
    return crc16_range(image + HDR_MAGIC, image + end - 1);
}

int32_t layout_check(const uint8_t *image, uint32_t name_offset_at, uint32_t size_limit,
                     int32_t flags)
{
    uint32_t size = get_be32(image + HDR_SIZE);
    if (get_be32(image + HDR_MAGIC) != MODULE_MAGIC) flags |= CHECK_MAGIC;
    if (size & 3) flags |= CHECK_SIZE_ALIGN;
    if (size < MIN_MODULE_SIZE || size > size_limit) flags |= CHECK_SIZE_SMALL;
    if (get_be16(image + HDR_MARK) != MARK_OTHER_KIND && get_be32(image + name_offset_at) >= size)
        flags |= CHECK_NAME_OFFSET;
    if (flags)
        return module_check_status(flags);
    // The trailer is looked at only when every header test passed.
    if (std::memcmp(image + size - TRAILER_SIZE, module_trailer, TRAILER_SIZE) != 0)
        return module_check_status(CHECK_TRAILER);
    return STATUS_OK;
}

int32_t check_module(uint8_t *image, uint32_t block)
{
    if (block < HEADER_SIZE)
        return module_check_status(CHECK_SIZE_SMALL);
    int32_t flags = 0;
    if (options & OPT_UPGRADE)
        flags = upgrade_module(image, block);
    return layout_check(image, HDR_NAME_OFFSET, block, flags);
}

bool module_in_block(const uint8_t *image, uint32_t block, uint32_t *size)
{
    *size = block >= HEADER_SIZE ? get_be32(image + HDR_SIZE) : 0;
    return block >= HEADER_SIZE && *size <= block;
}

void fill_summary(const uint8_t *image, uint32_t block)
{
    clear_summary_head();
    if (block < HEADER_SIZE)
        return;
    std::memcpy(summary.tag, image + HDR_TAG, TAG_SIZE);
    std::memcpy(summary.version, image + HDR_VERSION, 2);
    std::memcpy(summary.size, image + HDR_SIZE, 4);
    summary.type = image[HDR_TYPE];
    put_be16(summary.crc, module_crc(image, block));
}
