// What loading a record or ELF file finds, for the steps after it: the
// copy that sets the CRC in place, and the words that explain a failure.
// The run owns one; every load fills it anew, and release_record_load
// frees what it holds.
#pragma once

#include <cstdint>

#include "file_identity.h"
#include "record_format.h"
#include "records/elf_file.h"
#include "records/extents.h"

// The most modules one run takes: every -l with -w or ELF input, or every
// module found in the file.
constexpr int MAX_MODULES = 64;

// The copy writes a file as it reads it except where it repairs it (a line
// feed after a last line that has none and after every T-record); up to
// clean_end no repair is due, so that part can be copied as bytes with only
// the records that take the CRC patched (an ELF file: the CRCs' bytes).
constexpr int MAX_PATCHED_RECORDS = 2 * MAX_MODULES;

struct PatchedRecord {
    uint64_t offset;   // where its line begins in the file
    int32_t length;    // its bytes without the line feed; 1 for a byte of an ELF file
    uint32_t base;     // Intel HEX: the base address the record's address adds to
    uint32_t address;  // ELF: which byte of the CRC it is, 0 the high one
    int32_t module;    // the module whose CRC it takes
};

struct CopyPlan {
    bool valid;            // the load read the file whole and planned its copy
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
    bool has_data;            // the file's data records span [data_low, data_high];
    uint32_t data_low;        // set by finish_load_report, for a run that failed
    uint32_t data_high;
    SectionPlace section;     // an ELF file: the section whose address in memory -l gave,
    bool in_section;          // found for a run that failed
};

struct RecordLoad {
    RecordFormat format;  // how the file's records are read
    CopyPlan plan;
    LoadReport report;
    Extents extents;      // the bytes an ELF file or a record file read whole (-w) loads
    bool wide;            // an ELF64 file: addresses of 64 bits
    int module_count;     // the modules the run takes: one, or with -w or ELF input
    int current;          // every -l, or all it finds; the one being built
    uint64_t modules[MAX_MODULES];  // their addresses
    uint16_t crcs[MAX_MODULES];     // the CRC each takes: command 2's, over the module as loaded
};

