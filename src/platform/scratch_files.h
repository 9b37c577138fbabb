// Files a run creates to put in place later: the temporary files of what
// it replaces, the .new file of a record file, the link that becomes the
// .bak file. A run writes all of them first; a file is staged for its
// target once it is complete and on disk, and only when the whole run has
// succeeded does commit_staged_files rename every staged file over its
// target, in the order they were staged. A run that fails before removes
// them all and changes nothing.
//
// Until a file is renamed into place or removed, an interruption of the
// run (SIGINT, SIGTERM and SIGHUP; Ctrl-C and Ctrl-Break on Windows)
// removes it, and the run then ends as the signal would have ended it. A
// name that this run did not create is never removed this way.
#pragma once

#include <cstddef>
#include <cstdio>

// Creates path as a new file open for writing, exclusively and without
// following a link (create_new_file); with replace, whatever file or link
// stands at the name is removed first (recreate_file). Returns the stream,
// or null with errno set.
FILE *create_scratch_file(const char *path, bool replace);

// Creates a new file open for writing in the directory of target, under a
// name no other run uses (".tarvel-<pid>-<n>.tmp"), and writes that name
// to name (size bytes). Returns the stream, or null with errno set.
FILE *create_temporary_file(const char *target, char *name, size_t size);

// Gives the file at existing a second name of the same kind beside target,
// a hard link, written to name. False with errno set when the system
// cannot link it there.
bool link_temporary_file(const char *existing, const char *target, char *name, size_t size);

// The step of the run that stages what follows (a batch command): a
// rename that fails at the commit is reported as that step's failure.
void staging_step(int step);

// The complete scratch file at path is to take target's place when the
// run commits.
void stage_scratch_file(const char *path, const char *target);

// Renames every staged file over its target, in order, and the scratch
// files left then are removed. Returns true, or false with *failed_step
// the step of the rename that failed (errno set): the files staged before
// it are in place, those after it not.
[[nodiscard]] bool commit_staged_files(int *failed_step);

// Removes every scratch file of the run that is not in place, and forgets
// them all: a failed run leaves none behind.
void discard_scratch_files();

// Removes the scratch file at path (closed already) and forgets it.
void remove_scratch_file(const char *path);
