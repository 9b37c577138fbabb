// Creating the files a run writes into. A run never writes through a name
// that is already there: whatever stands at the name (a file, or a link
// someone planted to make the run overwrite another file) is either refused
// or removed first, and the file is then created new, exclusively, without
// following a link.
#pragma once

#include <cstdio>

// Creates path as a new empty file open for writing ("wb"). Fails with
// EEXIST when anything stands at the name. Returns the stream, or null with
// errno set.
FILE *create_new_file(const char *path);

// Removes a file or link that stands at path (never a directory or a
// device), then creates path new as create_new_file does. For fixed names such as the
// .new file of a record file and generic.tmp.
FILE *recreate_file(const char *path);

// Opens path for appending ("ab"); the file must exist and must not be a
// link. Returns the stream, or null with errno set.
FILE *append_existing_file(const char *path);

// Gives the file behind stream the permission bits of the regular file at
// path, so that a file that replaces another keeps them (owner and group
// are the run's, as a file created anew has them). Nothing happens when
// path is no regular file, and on Windows, which has no such bits.
void copy_permissions(const char *path, FILE *stream);

// Whether a file renamed to path takes the place of what stands there:
// nothing, a file or a link does, a directory does not.
bool name_can_be_replaced(const char *path);
