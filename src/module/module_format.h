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

// The tests of a module header, shared by the current and the old layout,
// which keep magic, mark and size at the same offsets: magic, size a
// multiple of 4, size from 40 to size_limit, the name offset (read at
// name_offset_at) below size unless the mark is FF FF, and then the trailer
// at size - 4. Returns 0, or 0x8C00 with the CHECK_* bits of the failed
// tests added to flags.
[[nodiscard]] int32_t layout_check(const uint8_t *image, uint32_t name_offset_at,
                                   uint32_t size_limit, int32_t flags);

// 0 for a valid module, else 0x8C00 with the CHECK_* bits of the failed rules.
// Runs the old-format upgrade first when OPT_UPGRADE is set. A size that
// reaches beyond the block fails as CHECK_SIZE_SMALL.
[[nodiscard]] int32_t check_module(uint8_t *image, uint32_t block);

// The module's size from its header, in *size, when the header and the
// whole module lie inside the block; false when not (only a module that
// failed its check has a size beyond the block).
bool module_in_block(const uint8_t *image, uint32_t block, uint32_t *size);

// Refreshes tag, version, crc, size and type of the summary from the image;
// leaves number and name alone.
void fill_summary(const uint8_t *image, uint32_t block);
