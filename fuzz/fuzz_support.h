// Shared by the fuzz targets: a private working directory per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Creates a fresh temporary directory and makes it the working directory;
// later calls only empty it again.
void fuzz_enter_workdir();

// Removes every file in the working directory.
void fuzz_clean_workdir();

// Writes n bytes to a file of the working directory.
void fuzz_write(const char *name, const uint8_t *data, size_t n);
