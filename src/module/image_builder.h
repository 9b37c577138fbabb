// Command 2: sizing the module image, loading the input, checking the module
// and setting its CRC; and the loader of plain module files.
#pragma once

#include <cstdint>

#include "module/raw_package.h"

// How the driver hands down the loader of a record or ELF file, which
// belongs to a layer above this one: where the loader leaves what it learns
// (owned by the run), the sizing for inputs whose module decides the size
// of the image (null: the file's size does), and the load, which places the
// module read from path into the image (a block of block bytes), at most
// capacity bytes of it.
struct RecordFileLoader {
    void *findings;
    int32_t (*size)(void *findings, const char *path, uint64_t file_size, uint32_t *capacity);
    int32_t (*load)(void *findings, const char *path, uint8_t *image, uint32_t capacity,
                    uint32_t block);
};

// What build_image learned of the module, as it was loaded.
struct BuiltModule {
    uint16_t crc;     // the module CRC computed before any upgrade: the one a record
                      // file set in place takes
    uint16_t stored;  // the CRC the module held
};

// Builds the module image from input_path, loading record files (S-records,
// T-records, Intel HEX, ELF) with record_loader and reading a raw input's
// info file with read_info: both belong to layers above this one, and the
// driver hands them in; *built gets what it learned. Returns 0, or the
// status of the open, the sizing (77, or the record loader's), the loader
// or the module check.
[[nodiscard]] int32_t build_image(const RecordFileLoader &record_loader, const InfoFileReader &read_info,
                                  BuiltModule *built);

// Number of image bytes a loader may fill for an input file of file_size
// bytes under the current options.
uint32_t image_capacity(uint64_t file_size);

// Loads a plain module file of at most capacity bytes into the image (a block
// of block bytes), stamping the serial number when one is requested.
[[nodiscard]] int32_t load_bin(const char *path, uint8_t *image, uint32_t capacity,
                               uint32_t block);
