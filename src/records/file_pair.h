// The file pair of the CRC patch copy: the record file read, and the new
// file written beside it (pair_in, pair_out and their open_flags bits).
#pragma once

#include <cstdint>

// Opens pair_in ("rb") and creates pair_out anew, after removing what
// stands at its name. Returns 0, or errno with a message and nothing left
// open.
[[nodiscard]] int32_t open_file_pair(const char *in_path, const char *out_path);

// Closes whichever of the pair is open. Returns 0, or -1 when closing the
// written file failed (its data may not have reached the disk).
int close_file_pair();
