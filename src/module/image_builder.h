// Command 2: sizing the module image, loading the input, checking the module
// and setting its CRC.
#pragma once

#include <cstdint>
#include <cstdio>

// Builds the module image from input_path. Returns 0, or the status of the
// open, the sizing (77), the loader or the module check.
[[nodiscard]] int32_t build_image();

// Number of image bytes a loader may fill for an input file of file_size
// bytes under the current options.
uint32_t image_capacity(uint64_t file_size);

// The start every loader shares: clears tag, version, crc, size and type of
// the summary, refuses a capacity below 68 (or beyond the block) with
// ERR_IMAGE_FIT, and opens path "rb" into *file (errno when it cannot).
[[nodiscard]] int32_t open_loader_input(const char *path, uint32_t capacity, uint32_t block,
                                        FILE **file);

// Loads a plain module file of at most capacity bytes into the image (a block
// of block bytes), stamping the serial number when one is requested.
[[nodiscard]] int32_t load_bin(const char *path, uint8_t *image, uint32_t capacity,
                               uint32_t block);
