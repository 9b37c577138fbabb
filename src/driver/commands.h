// The nine batch commands, and the commit that ends a run which staged
// files: load, plan and stage first, then put everything in place at once.
#pragma once

#include <cstdint>

#include "driver/run.h"

// Runs the batch commands in order (with -k the first two, which write
// nothing), stopping at the first that fails; then, when all succeeded,
// renames every staged file into place and puts the directories that
// changed on disk. A run that fails removes what it staged. Returns the
// run's status, with run->failed_command set when a command failed.
[[nodiscard]] int32_t run_commands(Run *run);

// Runs batch command number (1 to 9). Returns 0 for success or nothing to do.
[[nodiscard]] int32_t run_command(Run *run, int number);

// Command 1: 0 when the input file can be opened (or is a missing "raw"
// file, which command 2 reports), else 1 with a message; what the input
// begins with, or what stands at its name, goes to the run.
[[nodiscard]] int32_t check_input_file(Run *run, const char *path);

// Locks every file of the module that the run reads or replaces, before
// anything is read.
void lock_run_files();
