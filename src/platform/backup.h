// Replacing a record file by its patched copy while the previous file is
// kept as the .bak file, such that the record file's name holds the old or
// the new content at every instant: the .bak name becomes a second name of
// the old file (a hard link), and the new file is then renamed over the
// record file in one step. Where hard links are not available (FAT, some
// network shares) the .bak file is a copy of the old file instead, written
// whole and put on disk before it takes its name.
#pragma once

// Removes the .bak file of the previous run, as remove() does: returns 0,
// or -1 with errno set. The name goes at once; a large file's pages and
// blocks are released by a thread of its own (on Linux), so that the copy
// that follows need not wait for that.
int remove_old_backup(const char *bak);

// Waits until the file that remove_old_backup removed is released.
void finish_backup_removal();

// Makes bak hold the file at input: a second name of it, or a copy. Returns
// 0, or -1 when neither could be made (input is untouched either way).
[[nodiscard]] int keep_backup(const char *input, const char *bak);

// Renames new_path over input in one step. Returns 0 or -1.
[[nodiscard]] int put_new_in_place(const char *new_path, const char *input);
