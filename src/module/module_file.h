// Writing a module from the image to a file.
#pragma once

#include <cstdint>
#include <cstdio>

// Writes the first size bytes of the image to f in pieces of 1024 bytes.
// Returns false when a write falls short.
[[nodiscard]] bool write_module(FILE *f, const uint8_t *image, uint32_t size);
