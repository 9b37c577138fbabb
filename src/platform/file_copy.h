// Copying a stretch of one file into another without passing it through
// the program: copy_file_range on Linux (the system copies between its page
// caches), read and write elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>

#include "file_identity.h"

// The identity of the open file. Returns false when it cannot be had.
bool file_identity(FILE *file, FileIdentity *id);

// Moves the stream to offset at, past 2 GiB as well (where long has 32 bits,
// as on Windows, fseek cannot). Returns 0 or -1.
int seek_to(FILE *file, uint64_t at);

// Appends length bytes of in, from offset from on, to out (whose buffer is
// flushed first); writeback of what was copied starts at once, so that a
// later flush to disk finds less to do. Returns the number of bytes
// copied: length, or fewer when in ended first or a write failed (*write_failed
// tells which).
uint64_t copy_file_bytes(FILE *in, FILE *out, uint64_t from, uint64_t length, bool *write_failed);
