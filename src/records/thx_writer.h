// Writing the module as a thx file of T-records.
#pragma once

#include <cstdint>

// Writes T0 (the thd record), T3 data records of record_size bytes at
// link_address + offset, and T7. Returns 0, 1 on a short write, or errno when
// the file cannot be opened.
[[nodiscard]] int32_t write_thx_file(const char *path, uint8_t *image, uint32_t block);
