// Process-wide state of one run: every object that more than one source
// file reads or writes, grouped by who writes it. Defined in
// src/driver/state.cpp, where init_state() gives each its start value.
// State that one file needs alone stays private to that file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "file_identity.h"
#include "options.h"
#include "path_limits.h"
#include "record_format.h"
#include "summary.h"

constexpr int CONFIGURATION_SIZE = 12;
constexpr int RECORD_BUFFER_SIZE = 1024;  // longest S-record line (515) with room to spare
constexpr int32_t DEFAULT_RECORD_SIZE = 247;  // data bytes per T3 record without -t, or with -t=0

// ---- Settings. Written while the options (and info files) are read, only
// read afterwards; the serial-number stamping stores the number it stamped.

extern uint32_t options;                            // OPT_* bits
extern char input_ext[4];                           // input type and extension
extern char output_ext[4];                          // output type and extension
extern char *input_path;                            // -m value + ".ext", or none
extern char *output_path;                           // -m value + ".ext", or none
extern char input_path_buffer[PATH_BUFFER_SIZE];    // storage of input_path
extern char output_path_buffer[PATH_BUFFER_SIZE];   // storage of output_path
extern char *info_file_name;                        // -f value, or none
extern char info_file_buffer[PATH_TEXT_MAX + 1];    // storage of info_file_name
extern uint32_t link_address;                       // -l: address of the module's first byte
extern uint64_t link_address_wide;                  // -l with up to 16 digits, for ELF64 files
extern int32_t record_size;                         // -t: data bytes per T3 record, 0 = 247
extern int32_t serial_mode;                         // -s: what to do with "SNBR"
extern int32_t serial_number;                       // -s number; the stamped number afterwards
extern char configuration[CONFIGURATION_SIZE];      // -x: "_TYP" text, empty = none
extern FILE *cfg_file;                              // generic.tmp while CFG records are appended
extern int32_t cfg_created;                         // 1 once generic.tmp was created in this run

inline bool verbose() { return options & OPT_VERBOSE; }

// ---- Command 2: the module image and the summary of the module in it.

extern uint8_t *module_image;       // the image block, preset to 0xFF
extern uint32_t image_block_size;   // bytes in the image block
extern ModuleSummary summary;       // facts of the module last loaded or built

// ---- The record loader's results, for the copy of command 4.

// What the load learned about a record file, so that the copy need not
// decode the file again. The copy writes a file as it reads it except where
// it repairs it (a line feed after a last line that has none and after
// every T-record); up to clean_end no repair is due, so that part can be
// copied as bytes with only the records that take the CRC patched.
constexpr int MAX_PATCHED_RECORDS = 4;

struct PatchedRecord {
    uint64_t offset;   // where its line begins in the file
    int32_t length;    // its bytes without the line feed; 1 for a byte of an ELF file
    uint32_t base;     // Intel HEX: the base address the record's address adds to
    uint32_t address;  // ELF: which byte of the CRC it is, 0 the high one
};

struct CopyPlan {
    bool valid;            // set by the last successful load of a record file
    RecordFormat format;   // the file's records
    FileIdentity file;     // the file the plan is for, as it stood then
    uint64_t clean_end;    // the copy reproduces bytes [0, clean_end) as they are
    int32_t patched_count; // records that take the CRC, in file order
    PatchedRecord patched[MAX_PATCHED_RECORDS];
};

// What a load saw of a failure, for the words that explain it.
struct LoadReport {
    bool misfit;              // a record did not fit the image (ERR_IMAGE_FIT)
    uint32_t misfit_low;      // first and last address of that record's data
    uint32_t misfit_high;
    uint32_t capacity;        // bytes of the image from the link address
    uint64_t damaged_line;    // line (from 1) of a damaged record, 0 for none
    int32_t damage;           // what was wrong with it: the decoder's REC_ code, or
                              // rec_bad_count for records lost before an S5
    bool wide_link;           // an ELF64 file: the link address is link_address_wide
};

extern int32_t link_record;   // number of the record at the link address, 0 = none
extern uint32_t loaded_bytes; // data bytes placed by the last record load
extern uint16_t loaded_crc;   // module CRC as loaded (before any upgrade), for the record file
extern CopyPlan copy_plan;    // the last load's plan for the copy
extern LoadReport load_report; // what the last load saw

// ---- The copy's file pair and the record buffer, used by one record
// operation at a time.

extern FILE *pair_in;         // input of the CRC patch copy
extern FILE *pair_out;        // output of the CRC patch copy
extern uint32_t open_flags;   // OPEN_IN_FILE, OPEN_OUT_FILE; IMAGE_ALLOCATED for the image
extern uint8_t record_buffer[RECORD_BUFFER_SIZE];

// Restores every value above to its start value, frees the image and closes
// the file pair and generic.tmp if they are open. Called by main and by
// every test fixture.
void init_state();

// Frees the module image when IMAGE_ALLOCATED is set and clears the bit.
void free_image();

// Clears tag, version, crc, size and type of the summary.
void clear_summary_head();
