// Derived file names.
#pragma once

#include <cstddef>

// name with its extension (a dot among its last five characters) replaced by
// ext; an empty ext drops the dot too. A name without such a dot gets ".ext"
// appended. The result lives in one static buffer that the next call
// overwrites.
const char *replace_extension(const char *name, const char *ext);

// Length of the directory part of path with its last separator ('/', and
// on Windows '\\' too): 0 for a bare name.
size_t directory_length(const char *path);

// The part of path after its last '\' or '/', for messages.
const char *base_name(const char *path);
