// Conversion of modules with the old 28-byte header to the current layout.
#include "module/upgrade.h"

#include <cstring>

#include "byte_order.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "status.h"

namespace {

// An old offset field moves with the header; 0 means "none" and stays 0.
uint32_t moved_offset(uint32_t old_offset)
{
    return old_offset == 0 ? 0 : old_offset + UPGRADE_GROWTH;
}

}  // namespace

int32_t upgrade_module(uint8_t *image, uint32_t block)
{
    if (block < HEADER_SIZE + UPGRADE_GROWTH)
        return module_check_status(CHECK_SIZE_SMALL);

    // The old-layout tests, all of them. A size whose lengthened module would
    // not fit the block is refused like a size below the minimum.
    static_assert(OLD_HDR_MAGIC == HDR_MAGIC && OLD_HDR_SIZE == HDR_SIZE && OLD_HDR_MARK == HDR_MARK);
    if (int32_t rc = layout_check(image, OLD_HDR_NAME_OFFSET, block - UPGRADE_GROWTH, 0);
        rc != STATUS_OK)
        return rc;
    uint32_t size = get_be32(image + OLD_HDR_SIZE);

    // The new header is built apart from the old one and copied over offsets
    // 0 to 35 once the rest has moved up.
    uint8_t header[HEADER_SIZE] = {};
    std::memcpy(header + HDR_MARK, image + OLD_HDR_MARK, 2);
    std::memcpy(header + HDR_MAGIC, image + OLD_HDR_MAGIC, 4);
    put_be32(header + HDR_SIZE, size + UPGRADE_GROWTH);
    header[HDR_TYPE] = image[OLD_HDR_TYPE];
    header[HDR_NUMBER_HIGH] = image[OLD_HDR_BYTE13];
    std::memcpy(header + HDR_VERSION, image + OLD_HDR_VERSION, 2);
    std::memcpy(header + HDR_TAG, image + OLD_HDR_TAG, OLD_TAG_SIZE);
    put_be32(header + HDR_NAME_OFFSET, moved_offset(get_be32(image + OLD_HDR_NAME_OFFSET)));
    put_be32(header + HDR_DATA_OFFSET, moved_offset(get_be32(image + OLD_HDR_DATA_OFFSET)));

    std::memmove(image + HEADER_SIZE, image + OLD_HEADER_SIZE, size - OLD_HEADER_SIZE);
    std::memcpy(image, header, HEADER_SIZE);
    put_be16(image + HDR_CRC, module_crc(image, block));
    fill_summary(image, block);
    return STATUS_OK;
}
