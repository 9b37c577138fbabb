// The entry list at the start of a module's data region: finding, replacing,
// incrementing and appending entries, and stamping the serial number and the
// type text into it.
#pragma once

#include <cstdint>

#include "module_layout.h"

inline constexpr uint8_t key_serial[ENTRY_KEY_SIZE] = {'S', 'N', 'B', 'R', 0, 0, 0, 0};
inline constexpr uint8_t key_type[ENTRY_KEY_SIZE] = {'_', 'T', 'Y', 'P', 0, 0, 0, 0};
inline constexpr uint8_t key_config[ENTRY_KEY_SIZE] = {'_', 'C', 'F', 'G', 0, 0, 0, 0};

constexpr uint32_t SERIAL_DATA_SIZE = 4;  // "SNBR": u32 big-endian

// Where an entry list lies and how far a change to it may reach. All four
// positions point into one buffer; end and kept lie between start and limit.
//
// The list is walked from start; a head is read only at a position below end
// and only when all 12 of its bytes lie below limit. A new entry goes where
// the list ends, at end at the latest, and it and the terminator behind it
// must end at or before limit. Bytes below kept hold data that must not be
// lost: an append may cover there only the head that ended the list and
// unused bytes (00 or FF).
struct EntryArea {
    uint8_t *start;
    uint8_t *end;
    uint8_t *kept;
    uint8_t *limit;
};

// Finds the entry with key (8 bytes) and gives it length bytes of data.
// With source, the data is copied from it, and an absent entry is appended
// with a 12-byte zero terminator behind it. Without source, the first four
// data bytes are incremented as a u32 big-endian number (modulo 2^32) and the
// new number is stored in *new_value.
//
// Returns 0 and sets *new_length to the area's length from start after the
// change: end - start when the entry was changed in place, up to and
// including the new terminator after an append. Otherwise returns
// ERR_ENTRY_LENGTH (the entry has another length), ERR_ENTRY_MISSING (absent,
// no source) or ERR_ENTRY_ROOM (the walk left the area, the entry's data
// reaches past end, or an append does not fit), and changes nothing.
[[nodiscard]] int32_t set_entry(const uint8_t *key, const EntryArea &area, uint32_t length,
                                const uint8_t *source, uint32_t *new_value,
                                uint32_t *new_length);

// Applies serial_mode (set or increment "SNBR") and a nonempty configuration
// text ("_TYP") to the area, in that order. After an increment serial_number
// holds the stored number. Returns 0 with *new_length as set_entry gives it
// (end - start when nothing changed), or the first failing set_entry status;
// on a failure of the "SNBR" step nothing is changed.
[[nodiscard]] int32_t stamp_entries(const EntryArea &area, uint32_t *new_length);
