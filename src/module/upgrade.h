// Conversion of modules with the old 28-byte header to the current layout.
#pragma once

#include <cstdint>

// Converts the old-layout module in the image: 0 when converted, else 0x8C00
// with CHECK_* bits and the image unchanged. A module that would not fit the
// block once lengthened by 8 bytes is refused.
[[nodiscard]] int32_t upgrade_module(uint8_t *image, uint32_t block);
