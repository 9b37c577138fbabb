// Process-wide state of one run: the settings, the module image and its
// summary, what the record loader leaves, and the copy's file pair and the
// record buffer. Each object is defined here, once, grouped by who writes
// it; every other file reads it. What one run's steps find beyond these
// travels as a value of the run (records/record_load.h), and what one file
// needs alone stays private to that file.
//
// Every object starts as zero, as static storage does; init_state (the
// driver's, which main and every test fixture call first) gives each its
// start value through reset_shared_state below, and resets the objects
// that files keep privately as well.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options.h"
#include "path_limits.h"
#include "record_limits.h"
#include "summary.h"

constexpr int CONFIGURATION_SIZE = 12;  // -x text and its terminator
constexpr int MAX_LINK_TEXTS = 64;      // -l options whose text is kept: one run's modules

// ---- Settings. Written by the options and the info files while they are
// read, only read afterwards; the serial-number stamping stores the number
// it stamped, and the CFG lines open generic.tmp's successor.

inline uint32_t options;                            // OPT_* bits; 0
inline char input_ext[TYPE_NAME_MAX + 1];           // input type and extension; "abs"
inline char output_ext[TYPE_NAME_MAX + 1];          // output type and extension; "thx"
inline char *input_path;                            // -m value + ".ext", or none
inline char *output_path;                           // -m value + ".ext", or none
inline char input_path_buffer[PATH_BUFFER_SIZE];    // storage of input_path
inline char output_path_buffer[PATH_BUFFER_SIZE];   // storage of output_path
inline char *info_file_name;                        // -f value, or none
inline char info_file_buffer[PATH_TEXT_MAX + 1];    // storage of info_file_name
inline uint32_t link_address;                       // -l: address of the module's first byte; 0
inline uint64_t link_address_wide;                  // -l with up to 16 digits, for ELF64 files; 0
inline const char *link_texts[MAX_LINK_TEXTS];      // each -l value as given (the first 64)
inline int link_count;                              // -l options given
inline int32_t record_size;                         // -t: data bytes per T3 record; DEFAULT_RECORD_SIZE
inline int32_t serial_mode;                         // -s: what to do with "SNBR"; SERIAL_NONE
inline int32_t serial_number;                       // -s number; the stamped number afterwards
inline char configuration[CONFIGURATION_SIZE];      // -x: "_TYP" text, empty = none
inline FILE *cfg_file;                              // generic.tmp's successor while CFG records are appended
inline char cfg_file_name[PATH_BUFFER_SIZE + 64];   // that successor's name, empty before the first record
inline int32_t cfg_created;                         // 1 once the first CFG record of the run was written

inline bool verbose() { return options & OPT_VERBOSE; }

// ---- Command 2: the module image and the summary of the module in it.

inline uint8_t *module_image;       // the image block, preset to 0xFF; none
inline uint32_t image_block_size;   // bytes in the image block
inline ModuleSummary summary;       // facts of the module last loaded or built; name and
                                    // number are settings, the loaders fill the rest

// ---- What the record loader leaves for the copy and the image builder.

inline int32_t link_record;    // number of the record at the link address, 0 = none
inline uint32_t loaded_bytes;  // data bytes placed by the last record load

// ---- The copy's file pair and the record buffer, used by one record
// operation at a time; open_flags also tells whether the image must be
// freed (the image builder sets that bit).

inline FILE *pair_in;          // input of the CRC patch copy
inline FILE *pair_out;         // output of the CRC patch copy
inline uint32_t open_flags;    // OPEN_IN_FILE, OPEN_OUT_FILE; IMAGE_ALLOCATED
inline uint8_t record_buffer[RECORD_BUFFER_SIZE];

// Frees the module image when IMAGE_ALLOCATED is set and clears the bit.
inline void free_image()
{
    if (open_flags & IMAGE_ALLOCATED) {
        std::free(module_image);
        open_flags &= ~IMAGE_ALLOCATED;
    }
    module_image = nullptr;
    image_block_size = 0;
}

// Clears tag, version, crc, size and type of the summary.
inline void clear_summary_head() { std::memset(&summary, 0, SUMMARY_HEAD_SIZE); }

// Gives every object above its start value: frees the image and closes the
// file pair and generic.tmp's successor if they are open.
inline void reset_shared_state()
{
    free_image();
    if (open_flags & OPEN_IN_FILE)
        std::fclose(pair_in);
    if (open_flags & OPEN_OUT_FILE)
        std::fclose(pair_out);
    if (cfg_file)
        std::fclose(cfg_file);

    options = 0;
    std::strcpy(input_ext, "abs");
    std::strcpy(output_ext, "thx");
    input_path = output_path = info_file_name = nullptr;
    std::memset(input_path_buffer, 0, sizeof input_path_buffer);
    std::memset(output_path_buffer, 0, sizeof output_path_buffer);
    std::memset(info_file_buffer, 0, sizeof info_file_buffer);
    link_address = 0;
    link_address_wide = 0;
    std::memset(link_texts, 0, sizeof link_texts);
    link_count = 0;
    record_size = DEFAULT_RECORD_SIZE;
    serial_mode = SERIAL_NONE;
    serial_number = 0;
    std::memset(configuration, 0, sizeof configuration);
    cfg_file = nullptr;
    cfg_file_name[0] = 0;
    cfg_created = 0;

    summary = ModuleSummary{};
    link_record = 0;
    loaded_bytes = 0;

    pair_in = pair_out = nullptr;
    open_flags = 0;
    std::memset(record_buffer, 0, sizeof record_buffer);
}

// The start of every run and every test: reset_shared_state, and the
// objects each layer keeps privately (locks, staged and scratch files,
// directories to sync, the backup thread, the hex decoder's first bytes).
void init_state();
