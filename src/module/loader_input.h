// The start every loader of the module image shares.
#pragma once

#include <cstdint>
#include <cstdio>

// Smallest capacity a loader takes.
constexpr uint32_t MIN_CAPACITY = 68;

// Clears tag, version, crc, size and type of the summary, refuses a
// capacity below 68 (or beyond the block of block bytes) with
// ERR_IMAGE_FIT, and opens path "rb" into *file (errno when it cannot).
[[nodiscard]] int32_t open_loader_input(const char *path, uint32_t capacity, uint32_t block,
                                        FILE **file);
