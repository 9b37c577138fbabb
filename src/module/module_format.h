// The module format: which bytes the CRC covers, the validity check, and the
// summary of the module last loaded.
//
// Every function takes the image and the length of its block; none reads
// outside the block, whatever the header's size says.
#pragma once

#include <cstdint>

// Module CRC over the covered range: offsets 4 to 35 when type has 0x40,
// else 4 to size - 1 (cut at the end of the block).
uint16_t module_crc(const uint8_t *image, uint32_t block);

// 0 for a valid module, else 0x8C00 with the CHECK_* bits of the failed rules.
// Runs the old-format upgrade first when OPT_UPGRADE is set. A size that
// reaches beyond the block fails as CHECK_SIZE_SMALL.
[[nodiscard]] int32_t check_module(uint8_t *image, uint32_t block);

// Refreshes tag, version, crc, size and type of the summary from the image;
// leaves number and name alone.
void fill_summary(const uint8_t *image, uint32_t block);
