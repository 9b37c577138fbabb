// The options word and the other flag constants of the driver.
#pragma once

#include <cstdint>

// Bits of `options`. Set while the arguments are read, never cleared.
constexpr uint32_t OPT_OUT_BIN = 0x0001;   // -o=bin: write the module as a bin file
constexpr uint32_t OPT_OUT_THX = 0x0002;   // -o=thx, -t, default output: write a thx file
constexpr uint32_t OPT_IN_BIN = 0x0004;    // -i=bin: the input is a plain module file
constexpr uint32_t OPT_IN_THX = 0x0008;    // -i=thx: the input holds T-records
constexpr uint32_t OPT_VERBOSE = 0x0010;   // -v: banner, progress lines, exit line
constexpr uint32_t OPT_IN_RAW = 0x0020;    // -i=raw, -i=s19: package raw data
constexpr uint32_t OPT_COMPRESS = 0x0040;  // -z: accepted, no effect
constexpr uint32_t OPT_OUT_THD = 0x0080;   // -d: write the 20-byte thd file
constexpr uint32_t OPT_IN_R9500 = 0x0100;  // -e: r9500 input, load and summarise only
constexpr uint32_t OPT_FILE_CRC = 0x0200;  // -c: print CRC and size of a file
constexpr uint32_t OPT_HELP = 0x0400;      // -h, -?: print help on failure
constexpr uint32_t OPT_UPGRADE = 0x0800;   // -u: convert 28-byte-header modules
constexpr uint32_t OPT_MODULE = 0x1000;    // -m: a module path was given
constexpr uint32_t OPT_OUT_HEX = 0x2000;   // -o=hex: write the module as Intel HEX
constexpr uint32_t OPT_IN_ELF = 0x4000;    // -i=elf: the input is a linker's ELF file
constexpr uint32_t OPT_WHOLE = 0x8000;     // -w: the record file holds more than the module
constexpr uint32_t OPT_CHECK = 0x10000;    // -k: check the stored CRC, write nothing
constexpr uint32_t OPT_JSON = 0x20000;     // --json: one JSON document on stdout, no text lines

// Outputs that hold the whole module (the thd file holds its summary).
constexpr uint32_t OPT_OUT_MODULE = OPT_OUT_BIN | OPT_OUT_THX | OPT_OUT_HEX;

// Input types whose files are not record text (S-records or Intel HEX):
// the text takes two characters per byte.
constexpr uint32_t OPT_IN_NOT_TEXT = OPT_IN_BIN | OPT_IN_THX | OPT_IN_RAW;

// Input types whose record file is not rewritten; commands 4 to 6 skip them.
constexpr uint32_t OPT_IN_NOT_RECORDS = OPT_IN_NOT_TEXT | OPT_IN_R9500;

// Bits of `open_flags`.
constexpr uint32_t OPEN_IN_FILE = 0x01;     // pair_in is open
constexpr uint32_t OPEN_OUT_FILE = 0x02;    // pair_out is open
constexpr uint32_t IMAGE_ALLOCATED = 0x10;  // the module image must be freed

// Values of `serial_mode`.
constexpr int32_t SERIAL_NONE = 0;       // leave the serial number alone
constexpr int32_t SERIAL_INCREMENT = 1;  // add one to the stored "SNBR"
constexpr int32_t SERIAL_SET = 2;        // store serial_number in "SNBR"
