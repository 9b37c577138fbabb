// CRC-16 of modules and files.
//
// The register is CRC-16/ARC (reflected polynomial 0xA001, initial value 0,
// no final XOR). Every entry point hands out the register with its two bytes
// exchanged: that value is the "module CRC" that modules store big-endian at
// offset 0 and that every message prints. "123456789" gives the register
// BB3D and the module CRC 3DBB.
//
// A running value of 0 starts a computation; feed each result back in:
//
//     uint16_t crc = 0;
//     while ((n = fread(buf, 1, sizeof buf, f)) > 0)
//         crc = crc16_update(buf, n, crc);
#pragma once

#include <cstddef>
#include <cstdint>

// Module CRC of the bytes first..last inclusive; 0 when first > last.
uint16_t crc16_range(const uint8_t *first, const uint8_t *last);

// Continues the module CRC `running` over length bytes.
uint16_t crc16_update(const uint8_t *buffer, size_t length, uint16_t running);

// Module CRC of a whole file, read in 1 MiB pieces. *crc is 0 on failure.
// Returns 0, errno when the file cannot be opened, or ERR_NO_MEMORY.
[[nodiscard]] int32_t file_crc(const char *path, uint16_t *crc);

// The -c command: prints "<path> Size <n> Crc <crc>" (for a JSON report,
// only gives them in *size and *crc). Returns file_crc's status, or errno
// when the file cannot be opened or sized.
[[nodiscard]] int32_t print_file_crc(const char *path, int64_t *size, uint16_t *crc);
