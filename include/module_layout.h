// Byte layouts of modules, old modules, entries and the thd record.
// All multi-byte fields are big-endian; use byte_order.h, never a struct overlay.
#pragma once

#include <cstdint>

// Module header (36 bytes), offsets from the first byte of the module:
//
//   OFFSET WIDTH FIELD        MEANING
//   0      2     crc          module CRC; FF FF = not yet set
//   2      2     header_mark  7F FF in headers we build; FF FF = another kind
//   4      4     magic        87 CD F0 0F
//   8      4     size         whole module, offset 0 through the trailer
//   12     1     type         flag bits, TYPE_* below
//   13     3     reserved     0
//   16     1     number       module number
//   17     1     reserved     0 (the upgrade moves an old byte here)
//   18     2     version      module version
//   20     8     tag          eight characters, not terminated
//   28     4     name_offset  offset of the name; must be below size
//   32     4     data_offset  offset of the data region
//   36     ..    name         NUL-terminated, zero-filled to a multiple of 4
//   data_offset .. size-4     data region (entry list first when type has 0x24)
//   size-4 4     trailer      5A 69 0F F0
constexpr uint32_t HDR_CRC = 0;
constexpr uint32_t HDR_MARK = 2;
constexpr uint32_t HDR_MAGIC = 4;
constexpr uint32_t HDR_SIZE = 8;
constexpr uint32_t HDR_TYPE = 12;
constexpr uint32_t HDR_NUMBER = 16;
constexpr uint32_t HDR_NUMBER_HIGH = 17;
constexpr uint32_t HDR_VERSION = 18;
constexpr uint32_t HDR_TAG = 20;
constexpr uint32_t HDR_NAME_OFFSET = 28;
constexpr uint32_t HDR_DATA_OFFSET = 32;
constexpr uint32_t HEADER_SIZE = 36;
constexpr uint32_t TAG_SIZE = 8;

constexpr uint32_t MODULE_MAGIC = 0x87CDF00F;
constexpr uint32_t MIN_MODULE_SIZE = 40;
constexpr uint32_t TRAILER_SIZE = 4;
constexpr uint16_t MARK_OTHER_KIND = 0xFFFF;  // header_mark of a module of another kind
constexpr uint16_t CRC_UNSET = 0xFFFF;

constexpr uint8_t TYPE_CRC_HEADER_ONLY = 0x40;  // CRC covers offsets 4 to 35 only
constexpr uint8_t TYPE_ENTRY_LIST = 0x24;       // both bits: data begins with an entry list
constexpr uint8_t TYPE_ALT_THD = 0x20;          // other-kind module: thd value at 36, not 64

extern const uint8_t fresh_header[HEADER_SIZE];
extern const uint8_t module_trailer[TRAILER_SIZE];

// Old module header (28 bytes), converted by the upgrade:
//
//   OFFSET WIDTH FIELD        GOES TO
//   0      2     crc          0, recomputed
//   2      2     header_mark  2
//   4      4     magic        4
//   8      4     size         8, plus 8
//   12     1     type         12
//   13     1     (byte)       17; number (16) becomes 0
//   14     2     version      18
//   16     4     tag          20..23; 24..27 become 0
//   20     4     name_offset  28, plus 8 unless 0
//   24     4     data_offset  32, plus 8 unless 0
//   28     ..    name, data and trailer, moved to 36
constexpr uint32_t OLD_HDR_MARK = 2;
constexpr uint32_t OLD_HDR_MAGIC = 4;
constexpr uint32_t OLD_HDR_SIZE = 8;
constexpr uint32_t OLD_HDR_TYPE = 12;
constexpr uint32_t OLD_HDR_BYTE13 = 13;
constexpr uint32_t OLD_HDR_VERSION = 14;
constexpr uint32_t OLD_HDR_TAG = 16;
constexpr uint32_t OLD_HDR_NAME_OFFSET = 20;
constexpr uint32_t OLD_HDR_DATA_OFFSET = 24;
constexpr uint32_t OLD_HEADER_SIZE = 28;
constexpr uint32_t OLD_TAG_SIZE = 4;
constexpr uint32_t UPGRADE_GROWTH = HEADER_SIZE - OLD_HEADER_SIZE;
static_assert(UPGRADE_GROWTH == 8);

// Entry of an entry list (12-byte head, then the data):
//
//   OFFSET WIDTH FIELD   MEANING
//   0      8     key     "SNBR", "_TYP", "_CFG" followed by four zero bytes
//   8      4     length  number of data bytes after the head
//   12     ..    data
//
// The list ends at a head whose key begins with 0 or whose length is 0.
constexpr uint32_t ENTRY_KEY = 0;
constexpr uint32_t ENTRY_LENGTH = 8;
constexpr uint32_t ENTRY_HEAD_SIZE = 12;
constexpr uint32_t ENTRY_KEY_SIZE = 8;

// Thd record (20 bytes), the thd file and the payload of a thx file's T0 record:
//
//   OFFSET WIDTH FIELD    FROM THE HEADER
//   0      8     tag      20..27
//   8      2     version  18..19
//   10     2     crc      0..1
//   12     4     size     8..11
//   16     1     type     12
//   17     3     zero
constexpr uint32_t THD_TAG = 0;
constexpr uint32_t THD_VERSION = 8;
constexpr uint32_t THD_CRC = 10;
constexpr uint32_t THD_SIZE = 12;
constexpr uint32_t THD_TYPE = 16;
constexpr uint32_t THD_RECORD_SIZE = 20;
