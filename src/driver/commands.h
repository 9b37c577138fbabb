// The command sequence: the argument loop and the nine batch commands.
#pragma once

#include <cstdint>

#include "record_format.h"

// Runs the whole tool on an argument vector and returns the exit code (the
// -c status, else 0 or 1). The caller resets the state with init_state().
int run_tool(int argc, const char *const *argv);

// Runs batch command number (1 to 9). Returns 0 for success or nothing to do.
[[nodiscard]] int32_t run_command(int number);

// The kind of file the input is: an ELF file, Intel HEX records, or
// S-records (and T-records, and the inputs that are no records).
RecordFormat input_format();

// Command 1: 0 when the input file can be opened (or is a missing "raw"
// file, which command 2 reports), else 1 with a message.
[[nodiscard]] int32_t check_input_file(const char *path);
