// Putting what a run wrote on disk, so that a result reported with exit
// code 0 survives a power cut: the files themselves before they are renamed
// into place, and afterwards the directories that hold the new names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Flushes a stream and asks the system to put its file on disk. Returns 0 or -1.
int flush_to_disk(FILE *stream);

// Writes the directory part of path to out (size bytes): "." for a bare
// name, "/" for a name in the root, else path up to its last separator
// ('/', and on Windows a backslash too), without it.
void directory_of(const char *path, char *out, size_t size);

// Records that a name in the directory of path was created, replaced or
// removed by this run.
void note_directory_changed(const char *path);

// Number of changes recorded since the last sync, so that a caller can tell
// which step changed something.
uint32_t directory_changes();

// Puts the recorded directories on disk and forgets them (nothing to do on
// Windows, whose renames are written through). Returns 0, or errno with
// *failed pointing at the name of the directory that could not be synced.
[[nodiscard]] int32_t sync_changed_directories(const char **failed);

// Forgets the recorded directories without syncing them.
void forget_changed_directories();
