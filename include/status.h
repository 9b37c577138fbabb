// Status codes. Every operation returns a signed 32-bit status; 0 is success.
#pragma once

#include <cstdint>

constexpr int32_t STATUS_OK = 0;
constexpr int32_t STATUS_FAILED = 1;         // missing input, unknown option, short thx/thd write
constexpr int32_t STATUS_RENAME_FAILED = -1; // a rename of command 5 or 6 failed
constexpr int32_t STATUS_UNKNOWN_COMMAND = -1; // a command number out of range
constexpr int32_t STATUS_NO_IMAGE = 77;      // input cannot be sized or image not allocated

constexpr int32_t ERR_READ_SHORT = 0x8001;    // an input file was not read to its end
constexpr int32_t ERR_WRITE_SHORT = 0x8002;   // a file was not written whole
constexpr int32_t ERR_IMAGE_FIT = 0x8003;     // capacity below 68, or input does not fit
constexpr int32_t ERR_NO_MEMORY = 0x8004;     // a read buffer cannot be allocated
constexpr int32_t ERR_TYPE_BITS = 0x8007;     // stamping asked, type lacks 0x20 or 0x04
constexpr int32_t ERR_ENTRY_LENGTH = 0x8008;  // the entry exists with another length
constexpr int32_t ERR_ENTRY_ROOM = 0x8009;    // the entry walk passed the end of its area
constexpr int32_t ERR_ENTRY_MISSING = 0x800B; // "SNBR" absent and an increment asked
constexpr int32_t ERR_CFG_FILE = 0x800D;      // generic.tmp cannot be created or read back
constexpr int32_t ERR_RECORD_SUM = 0x800E;    // a record's checksum is wrong, or records were lost
constexpr int32_t ERR_ELF_FILE = 0x800F;      // the ELF input is no ELF file or is damaged
constexpr int32_t ERR_CRC_WRONG = 0x8010;     // -k: the stored CRC is wrong or unset
constexpr int32_t ERR_CRC_NOT_IN_FILE = 0x8011; // no byte of the file holds the CRC's place
constexpr int32_t ERR_MODULE_NOT_FOUND = 0x8012; // no module found, or more than a run takes
constexpr int32_t ERR_NO_MODULE = 0x8801;     // no -m option
constexpr int32_t ERR_INPUT_TYPE = 0x8802;    // -i type not recognised
constexpr int32_t ERR_OUTPUT_TYPE = 0x8803;   // -o type not recognised
constexpr int32_t ERR_TYPE_LETTER = 0x8804;   // type option with a letter other than I, O
constexpr int32_t ERR_CHECK_WRITES = 0x8805;  // -k with an option or input that writes
constexpr int32_t ERR_SEVERAL_MODULES = 0x8806; // an output of one module in a run of several
constexpr int32_t ERR_JSON_RAW = 0x8807;      // --json with raw packaging, which it cannot report

// Module check: 0x8C00 with one bit per failed rule.
constexpr int32_t ERR_MODULE_CHECK = 0x8C00;
constexpr int32_t CHECK_MAGIC = 0x02;       // magic is not 0x87CDF00F
constexpr int32_t CHECK_SIZE_ALIGN = 0x04;  // size is not a multiple of 4
constexpr int32_t CHECK_SIZE_SMALL = 0x08;  // size below 40 (or beyond the image block)
constexpr int32_t CHECK_NAME_OFFSET = 0x20; // name offset not below size
constexpr int32_t CHECK_TRAILER = 0x40;     // no trailer at size - 4

constexpr int32_t module_check_status(int32_t bits) { return ERR_MODULE_CHECK | bits; }

// Results of read_record and decode_record. They stay inside the record code.
constexpr int32_t REC_END = -1;           // end record (type 7, 8 or 9)
constexpr int32_t REC_BAD_SUM = 0x43;     // checksum wrong
constexpr int32_t REC_BAD_LENGTH = 0x49;  // a count too small for the address, or a
                                          // line too short to hold a record at all
constexpr int32_t REC_CUT_SHORT = 0x4B;   // the record ends before the bytes its count says
constexpr int32_t REC_LONG_LINE = 0x8900; // a line longer than any valid record
constexpr int32_t REC_BAD_HEX = 0x4A;     // an Intel HEX line with a character that is no hex digit
constexpr int32_t REC_LINE_END = 0x4C;    // a CR inside a line: two records glued by a lone CR

constexpr int32_t rec_bad_lead(uint8_t lead) { return (int32_t(lead) << 16) | 0x46; }
constexpr int32_t rec_bad_type(uint8_t type) { return (int32_t(type) << 16) | 0x47; }
constexpr int32_t rec_bad_count(int32_t n) { return int32_t(uint32_t(n) << 8) | 0x48; }
constexpr int32_t rec_no_record(uint8_t first) { return 0x8800 | first; }
// What the patch of the link record returns when that record is a T-record,
// which has no hex characters to patch; the copy reports it as the count of
// bytes written (34900).
constexpr int32_t REC_T_RECORD = rec_no_record('T');
