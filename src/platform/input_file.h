// Opening an input file. Linux opens a directory like a file, which
// Windows refuses; its first read fails, and it is then no input file on
// either system. A FIFO, a device or a socket is no input file either: an
// open or a read of one may wait for ever, or never come to an end.
#pragma once

#include <cstdio>

// Opens path with mode ("r" or "rb") and checks that it can be read.
// Returns the stream at the start of the file, or null with errno set;
// *opened (when given) tells whether the open itself succeeded and only
// the read failed.
FILE *open_input_file(const char *path, const char *mode, bool *opened = nullptr);

// What stands at path when it is neither a regular file nor a directory
// nor missing: "a FIFO", "a device" or "a socket" (null otherwise). It is
// looked at without opening it, so nothing waits.
const char *special_file_kind(const char *path);
