// The thd summary file and the bin module file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "module_layout.h"

// Fills the 20-byte thd record from the module header in the image.
void make_thd(uint8_t record[THD_RECORD_SIZE], const uint8_t *image, uint32_t block);

// Writes the thd record of the image to path with its extension replaced by
// "thd". Returns 0, 1 when it was not written whole, or errno.
[[nodiscard]] int32_t write_thd_file(const char *path, const uint8_t *image, uint32_t block);

// Writes the module's size bytes of the image to path with its extension
// replaced by "bin". Returns 0, ERR_WRITE_SHORT or errno.
[[nodiscard]] int32_t write_bin_file(const char *path, const uint8_t *image, uint32_t block);
