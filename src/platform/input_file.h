// Opening an input file. Linux opens a directory like a file, which
// Windows refuses; its first read fails, and it is then no input file on
// either system.
#pragma once

#include <cstdio>

// Opens path with mode ("r" or "rb") and checks that it can be read.
// Returns the stream at the start of the file, or null with errno set;
// *opened (when given) tells whether the open itself succeeded and only
// the read failed.
FILE *open_input_file(const char *path, const char *mode, bool *opened = nullptr);
