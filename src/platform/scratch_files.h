// Files a run creates to rename into place later (temporary files, the
// .new file of a record file). Until a file is renamed away or removed, an
// interruption of the run (SIGINT, SIGTERM and SIGHUP; Ctrl-C and
// Ctrl-Break on Windows) removes it, and the run then ends as the signal
// would have ended it. A name that this run did not create is never
// removed this way.
#pragma once

#include <cstdio>

// Creates path as a new file open for writing, exclusively and without
// following a link (create_new_file); with replace, whatever file or link
// stands at the name is removed first (recreate_file). Returns the stream,
// or null with errno set.
FILE *create_scratch_file(const char *path, bool replace);

// The scratch file at path has been renamed into place: its name is free.
void forget_scratch_file(const char *path);

// Removes the scratch file at path (closed already) and forgets it.
void remove_scratch_file(const char *path);
