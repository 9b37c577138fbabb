// The .bak file of a record file set in place: the file as it was before
// the run, kept under the .bak name when the patched copy takes the
// record file's name. Both renames happen when the run commits
// (scratch_files.h), the .bak first, so that the record file's name holds
// the old or the new content at every instant: the .bak file is a second
// name of the old file (a hard link) made under a temporary name, or,
// where hard links are not available (FAT, some network shares), a copy of
// it, written whole and put on disk first.
#pragma once

// Gets the .bak file of the previous run ready to be replaced: returns 0
// when one stands at bak, or -1 with errno set (ENOENT when there is none).
// Nothing is removed; a large file's cached pages are released by a thread
// of its own (on Linux) while the run goes on.
int prepare_backup(const char *bak);

// The end of what prepare_backup started: when the commit has replaced the
// old file, a large one's blocks are released after the run has ended,
// by a process of its own (on Linux), instead of on the run's time.
void finish_backup_release(bool replaced);

// Stages the .bak file: a second name of the file at input, or a copy of
// it, under a temporary name beside bak, to replace bak when the run
// commits. Returns 0, or -1 when neither could be made (input is untouched
// either way).
[[nodiscard]] int stage_backup(const char *input, const char *bak);
