// Loading the module from a linker's ELF file, and finding where in the
// file the module's CRC lies.
//
// The bytes of every loadable segment (PT_LOAD: p_filesz bytes from
// p_offset) belong at its physical address p_paddr, as a conversion to
// S-records places them. The module is what lies from the link address on;
// the segments' other bytes (vectors, code, RAM data) are passed over. An
// ELF file of either class (32 or 64 bits) and either byte order is read;
// every offset, size and count it gives is checked against the file before
// it is used.
#pragma once

#include <cstdint>

// Places the part of the file's segments that lies in the image (from
// link_address, capacity bytes) and finds the file offsets of the bytes at
// link_address and link_address + 1, which the copy patches (copy_plan).
// Sets loaded_bytes and fills the summary. Returns 0, errno when the file
// cannot be opened, ERR_IMAGE_FIT (capacity below 68), ERR_ELF_FILE (no
// ELF file, or a damaged one), ERR_CRC_NOT_IN_FILE (no segment's file
// bytes hold the CRC's place) or ERR_READ_SHORT, each but the first two
// with a message.
[[nodiscard]] int32_t load_elf(const char *path, uint8_t *image, uint32_t capacity,
                               uint32_t block);
