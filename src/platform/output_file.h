// Replacing a file safely: the new content goes to a temporary file of its
// own beside the target, is flushed to disk, and is staged to be renamed
// over the target when the whole run has succeeded (scratch_files.h). The
// target always holds its old content or the complete new content, never a
// part, and a link standing at the target is replaced, never written
// through.
#pragma once

#include <cstdint>
#include <cstdio>

#include "path_limits.h"

struct OutputFile {
    FILE *stream;                        // the temporary file, open "wb"
    char *buffer;                        // its stream buffer, from the heap
    char target[PATH_BUFFER_SIZE + 16];  // the name the content is for
    char temp[PATH_BUFFER_SIZE + 64];    // target's directory + ".tarvel-<pid>-<n>.tmp"
};

// Creates the temporary file, under a name no other run uses, with the
// permission bits of the target (or of mode_from, when given: a backup
// copy takes those of the file it copies). Returns 0, or errno when the
// target exists but cannot be written or the temporary file cannot be
// created.
[[nodiscard]] int32_t output_open(OutputFile *out, const char *target,
                                  const char *mode_from = nullptr);

// Content written whole: flushes, syncs and closes the temporary file and
// stages it for the target. Content not written whole: closes and removes
// it. Returns 0, or ERR_WRITE_SHORT (the temporary file is removed and the
// target left as it is).
[[nodiscard]] int32_t output_finish(OutputFile *out, bool written);
