// Finding the modules a file loads, without being told where they lie.
#pragma once

#include <cstdint>
#include <cstdio>

#include "records/extents.h"

// The modules of the loaded bytes, in address order: a module is a header
// at a 4-byte aligned address with the header mark (7F FF, or FF FF for a
// module of another kind) and the magic, a size that is a multiple of 4
// and at least 40, and the trailer at size - 4, header and trailer loaded.
// The search goes on behind each module found, so a module inside the data
// of another is part of that one. Writes at most max addresses; *count is
// the number found, more than max when there are more. The file is read
// for extents in the file. False when a read fails or no memory is left.
[[nodiscard]] bool find_modules(const Extents &e, FILE *file, uint64_t *addresses, int max,
                                int *count);
