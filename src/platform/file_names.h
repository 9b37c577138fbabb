// Derived file names and the file pair of the CRC patch copy.
#pragma once

#include <cstdint>

// name with its extension (a dot among its last five characters) replaced by
// ext; an empty ext drops the dot too. A name without such a dot gets ".ext"
// appended. The result lives in one static buffer that the next call
// overwrites.
const char *replace_extension(const char *name, const char *ext);

// The part of path after its last '\' or '/'.
const char *base_name(const char *path);

// Opens pair_in ("rb") and creates pair_out anew, after removing what
// stands at its name. Returns 0, or errno with a message and nothing left
// open.
[[nodiscard]] int32_t open_file_pair(const char *in_path, const char *out_path);

// Closes whichever of the pair is open. Returns 0, or -1 when closing the
// written file failed (its data may not have reached the disk).
int close_file_pair();
