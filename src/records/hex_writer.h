// Writing the module as an Intel HEX file: an extended linear address
// record (04) first and wherever the upper 16 bits of the address change,
// data records of 32 bytes (shorter only at the end of the module or of a
// 64 KiB segment), and the end-of-file record, in upper-case hex with line
// feeds. The module's first byte goes to link_address.
#pragma once

#include <cstdint>
#include <cstdio>

// Bytes in a data record of the output.
constexpr uint32_t HEX_RECORD_BYTES = 32;

// Writes the module's records to file. Returns 0, or ERR_WRITE_SHORT when
// a write fell short or the module's size lies beyond the block.
[[nodiscard]] int32_t write_hex(FILE *file, const uint8_t *image, uint32_t block);

// Writes the Intel HEX file of the image to path with its extension
// replaced by "hex", through a temporary file. Returns 0, ERR_WRITE_SHORT,
// or errno when the file cannot be opened.
[[nodiscard]] int32_t write_hex_file(const char *path, const uint8_t *image, uint32_t block);
