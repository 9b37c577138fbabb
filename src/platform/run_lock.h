// Locks that keep runs on the same files from interleaving. A run takes an
// exclusive lock on each file it will read and replace before it reads
// anything, waits for runs that hold them, and keeps them until it ends;
// the system drops a process's locks when it dies, so a killed run never
// blocks the next one. Nothing is created for a lock.
//
// On Linux a lock is flock() on the file itself. A file that is replaced
// by a rename leaves the lock on the old file behind, so a run that got the
// lock checks that the name still leads to the file it locked and starts
// again otherwise, and a run locks every file it renames into place before
// the rename, so that the lock goes with the name. On Windows a lock is a
// named mutex derived from the file's full path.
//
// A file system that does not support locks leaves the run unlocked.
#pragma once

#include <cstdio>

// Locks the file that path names now and waits for it. A missing or
// unreadable file is not locked on Linux (there is nothing to protect, or
// the run fails on it anyway); a file this run has locked already is not
// locked again.
void lock_file_at(const char *path);

// Locks a name that runs remove and create anew (generic.tmp): on Linux the
// directory that holds it, on Windows the name itself.
void lock_scratch_name(const char *path);

// Locks the new file behind stream, which this run has just created and is
// about to rename into the place of a locked file.
void lock_new_file(FILE *stream);

// Drops every lock of the run.
void release_run_locks();
