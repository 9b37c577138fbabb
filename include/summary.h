// The module summary: facts of the module last loaded or built.
#pragma once

#include <cstdint>

constexpr int NAME_CAPACITY = 260;  // name text with its terminator

// The first 20 bytes have the layout of the thd record. version, crc and size
// are held big-endian, as the module holds them.
struct ModuleSummary {
    uint8_t tag[8];       // module offsets 20..27
    uint8_t version[2];   // module offsets 18..19
    uint8_t crc[2];       // module CRC computed over the covered range
    uint8_t size[4];      // module offsets 8..11
    uint8_t type;         // module offset 12
    uint8_t zero[3];      // always zero
    int32_t number;       // 0..255, set by -n or the info file
    char name[NAME_CAPACITY];  // set by the name option or the info file
};
static_assert(sizeof(ModuleSummary) == 20 + 4 + NAME_CAPACITY);

constexpr int SUMMARY_HEAD_SIZE = 20;  // tag..zero, cleared by every loader
