// Process-wide state of one run. Defined in src/driver/state.cpp, where
// init_state() gives every value its start value.
#pragma once

#include <cstdint>
#include <cstdio>

#include "summary.h"

constexpr int PATH_TEXT_MAX = 259;                 // longest -m, -f or name text
constexpr int PATH_BUFFER_SIZE = PATH_TEXT_MAX + 5;  // + ".ext" + terminator
constexpr int CONFIGURATION_SIZE = 12;
constexpr int RECORD_BUFFER_SIZE = 1024;  // longest S-record line (515) with room to spare

extern uint32_t options;
extern uint32_t open_flags;
extern char input_ext[4];
extern char output_ext[4];
extern char *input_path;
extern char *output_path;
extern char input_path_buffer[PATH_BUFFER_SIZE];
extern char output_path_buffer[PATH_BUFFER_SIZE];
extern char *info_file_name;
extern char info_file_buffer[PATH_TEXT_MAX + 1];

extern uint32_t link_address;
extern int32_t record_size;
extern int32_t serial_mode;
extern int32_t serial_number;
extern char configuration[CONFIGURATION_SIZE];

extern FILE *cfg_file;
extern int32_t cfg_created;

extern ModuleSummary summary;

extern uint8_t *image;       // the module image, preset to 0xFF
extern uint32_t image_block_size;  // bytes in the image block

extern int32_t link_record;
// Module CRC of the module as loaded, before any upgrade: the CRC that goes
// into an S-record file, which keeps the layout it was loaded in.
extern uint16_t loaded_crc;
extern uint32_t loaded_bytes;
extern uint8_t record_buffer[RECORD_BUFFER_SIZE];

// Restores every value above to its start value, frees the image and closes
// generic.tmp if it is open. Called by main and by every test fixture.
void init_state();

// Frees the module image when IMAGE_ALLOCATED is set and clears the bit.
void free_image();

// Clears tag, version, crc, size and type of the summary.
void clear_summary_head();

// The file pair of the CRC patch copy; open_flags tells which is open.
extern FILE *pair_in;
extern FILE *pair_out;
