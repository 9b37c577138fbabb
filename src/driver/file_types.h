// The file types, in one table: each input and output type with its
// option bit, how its records are read, whether its file is set in place,
// its words in --help, and what a file of its content is called when a
// failure is explained. The option parser, the locks of a run, --help and
// the hints read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "options.h"
#include "path_limits.h"
#include "record_format.h"

// What a file holds, as its first bytes tell it.
enum class Content { S_RECORDS, INTEL_HEX, ELF, T_RECORDS, MODULE, RAW, NONE };

struct FileType {
    const char *name;      // the type, and the extension of its files
    bool input;            // -i takes it
    uint32_t input_bit;    // the OPT_IN_ bit -i sets; 0 for none
    RecordFormat format;   // how its records are read, as an input
    bool in_place;         // as an input, its file is set in place: the files of
                           // these types share .new, .bak and their locks
    int output_order;      // its place among the types -o takes; 0 for none
    uint32_t output_bit;   // the OPT_OUT_ bit of its output file; 0 for none
    Content content;       // what a file of this type holds
    const char *input_words;   // its meaning in --help as an input (shared by a group)
    const char *output_words;  // its meaning in --help as an output
    const char *looks_like;    // what a file of its content is, for the hints
};

// Every type, inputs in the order --help lists them.
inline constexpr FileType file_types[] = {
    // name, -i takes it and its bit, format, set in place, place among -o and its bit,
    // content; its words in --help as an input and as an output; what a file of it is
    {"abs", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records (the default)", nullptr, "an S-record file"},
    {"shx", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records (the default)", nullptr, "an S-record file"},
    {"hex", true, 0, RecordFormat::INTEL_HEX, true, 3, OPT_OUT_HEX, Content::INTEL_HEX,
     "Intel HEX", "Intel HEX", "an Intel HEX file"},
    {"srec", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records as well", nullptr, "an S-record file"},
    {"s28", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records as well", nullptr, "an S-record file"},
    {"s37", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records as well", nullptr, "an S-record file"},
    {"mot", true, 0, RecordFormat::S_RECORDS, true, 0, 0, Content::S_RECORDS,
     "S-records as well", nullptr, "an S-record file"},
    {"ihx", true, 0, RecordFormat::INTEL_HEX, true, 0, 0, Content::INTEL_HEX,
     "Intel HEX as well", nullptr, "an Intel HEX file"},
    {"elf", true, OPT_IN_ELF, RecordFormat::ELF, true, 0, 0, Content::ELF,
     "a linker's ELF file", nullptr, "an ELF file"},
    {"thx", true, OPT_IN_THX, RecordFormat::S_RECORDS, false, 1, OPT_OUT_THX, Content::T_RECORDS,
     "T-records", "T-records", "a T-record file"},
    {"bin", true, OPT_IN_BIN, RecordFormat::NONE, false, 2, OPT_OUT_BIN, Content::MODULE,
     "the module itself, byte for byte", "the module", "a module file"},
    {"raw", true, OPT_IN_RAW, RecordFormat::NONE, false, 0, 0, Content::RAW,
     "raw data, packaged with an info file (-f)", nullptr, nullptr},
    {"s19", true, OPT_IN_RAW, RecordFormat::NONE, false, 0, 0, Content::RAW,
     "raw data, packaged with an info file (-f)", nullptr, nullptr},
    // -d writes it beside the outputs; -o does not take it.
    {"thd", false, 0, RecordFormat::NONE, false, 0, OPT_OUT_THD, Content::NONE, nullptr, nullptr,
     nullptr},
};
inline constexpr int file_type_count = sizeof file_types / sizeof file_types[0];

// The type of that name, in any case: its first three characters, or a
// whole name of four ("srec"). Null for none.
const FileType *find_file_type(const char *name);

// The first n characters of text (at most four) in lower case, terminated.
void lower_type_name(const char *text, size_t n, char lower[TYPE_NAME_MAX + 1]);

// The type of the run's input (input_ext).
const FileType &input_type();

// The input type that reads a file of that content, or null.
const FileType *type_for_content(Content content);
