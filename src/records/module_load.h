// One module of the bytes a file loads: of an ELF file, or of a record
// file read whole (-w). The module is the one at found->modules[found->current];
// its image is sized from its header and filled from the extents.
#pragma once

#include <cstdint>

#include "records/record_load.h"

// The image bytes the module needs: its size, at least 68, and no more
// than a file of file_size bytes can fill. An ELF file whose segments both
// load bytes of the module is refused (ERR_ELF_FILE), and one whose
// segments hold no file bytes at the CRC's place (ERR_CRC_NOT_IN_FILE),
// whose two file offsets the copy's plan takes; a record file is refused
// when no record holds the CRC's place, unless the run only checks (-k).
// Returns 0 or the status, with a message.
[[nodiscard]] int32_t size_module(RecordLoad *found, const char *path, uint64_t file_size,
                                  uint32_t *capacity);

// Fills the image (from the module's address, capacity bytes) with the
// bytes the extents load there; sets loaded_bytes and fills the summary.
// The ELF file is read again and must be the one that was sized. Returns 0,
// errno when the file cannot be opened, ERR_IMAGE_FIT (capacity below 68)
// or ERR_READ_SHORT (with a message).
[[nodiscard]] int32_t load_module(RecordLoad *found, const char *path, uint8_t *image,
                                  uint32_t capacity, uint32_t block);
