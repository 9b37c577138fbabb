// One run of the tool as a value: the options are read into the settings,
// then the nine batch commands load the input, plan and stage every file
// the run replaces under a name of its own, and one commit renames them
// all into place; a run that fails before the commit changes nothing.
// What the steps find travels in the Run, for the steps after them and for
// the words that explain a failure.
#pragma once

#include <cstdint>

#include "records/record_load.h"

// What the run learned of one module it took, as command 2 built it.
struct ModuleReport {
    uint64_t address;
    uint32_t size;
    uint8_t type;
    uint8_t number;
    uint16_t version;
    uint8_t tag[8];              // as the header holds it: eight bytes, any of them
    char name[260];              // the name at its name offset, cut at the image's end
    uint16_t stored;             // the CRC the module held
    uint16_t crc;                // the CRC computed over it
    int32_t status;              // what its check and its CRC came to: 0, ERR_CRC_WRONG, 8Cxx
};

struct Run {
    RecordLoad load;             // command 2's load of a record or ELF file
    int32_t status;              // the run's status: 0, or that of the step that failed
    int failed_command;          // the batch command that failed, 0 when none did
    const char *failed_option;   // the argument whose option failed, or null
    const char *stray_argument;  // the first argument that is no option: it and
                                 // every later one are ignored; or null
    const char *input_kind;      // command 1: what stands at the input's name when it
                                 // is no regular file ("a FIFO"), or null
    uint8_t input_head[8];       // command 1: the input's first bytes
    int input_head_length;
    bool info_unreadable;        // command 2: raw input whose info file cannot be read
    int reported;                // command 2: the modules built, in address order
    ModuleReport modules[MAX_MODULES];
    bool committed;              // every staged file was renamed into place
};

// Runs the whole tool on an argument vector and returns the exit code (the
// -c status, else 0 or 1). The caller resets the state with init_state().
int run_tool(int argc, const char *const *argv);

// The start of every run and every test: every process-wide object gets
// its start value, and each layer forgets what it keeps of an earlier run
// (locks, scratch files, directories to sync, the backup thread, the hex
// decoder's count of bytes).
void init_state();
