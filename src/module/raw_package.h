// Packaging raw data into a new module.
#pragma once

#include <cstdint>

// Reads the info file at path into the options: the options belong to the
// driver above this layer, which hands its reader in, with a context of
// its own. Returns 0 or a status.
struct InfoFileReader {
    void *context;
    int32_t (*read)(void *context, const char *path);
};

// Builds a module around the raw file at path in the image, with header
// values from the info file at info_path, read with read_info. Returns 0 or
// an error status.
[[nodiscard]] int32_t package_raw(const char *path, uint8_t *image, uint32_t capacity,
                                  uint32_t block, const char *info_path,
                                  const InfoFileReader &read_info);
