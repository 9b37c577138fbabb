// Packaging raw data into a new module.
#pragma once

#include <cstdint>

// Builds a module around the raw file at path in the image, with header
// values from the info file. Returns 0 or an error status.
[[nodiscard]] int32_t package_raw(const char *path, uint8_t *image, uint32_t capacity,
                                  uint32_t block, const char *info_path);
