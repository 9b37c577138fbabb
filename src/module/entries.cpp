// The entry list: walking it, changing or appending an entry, and stamping
// the serial number and the type text.
#include "module/entries.h"

#include <cstddef>
#include <cstring>

#include "byte_order.h"
#include "options.h"
#include "state.h"
#include "status.h"

namespace {

constexpr uint32_t TYPE_DATA_SIZE = CONFIGURATION_SIZE;  // "_TYP": the configuration text
// The most an append writes: head, the longest data we store, terminator.
constexpr uint32_t MAX_APPEND = ENTRY_HEAD_SIZE + TYPE_DATA_SIZE + ENTRY_HEAD_SIZE;

// Where the key was found, or where a new entry goes.
struct EntrySpot {
    uint8_t *at;
    bool found;
};

// Bytes that carry nothing: zero fill, or erased flash.
bool unused(const uint8_t *from, const uint8_t *to)
{
    for (; from < to; from++)
        if (*from != 0x00 && *from != 0xFF)
            return false;
    return true;
}

// Walks the list and checks that the change can be made without touching
// anything outside the area's rules. Writes nothing. Positions are kept as
// distances from start so that a huge length cannot wrap a pointer.
int32_t find_entry(const uint8_t *key, const EntryArea &area, uint32_t length, bool with_source,
                   EntrySpot *spot)
{
    const size_t end = size_t(area.end - area.start);
    const size_t limit = size_t(area.limit - area.start);
    size_t p = 0;
    for (;;) {
        if (p > end)
            return ERR_ENTRY_ROOM;
        if (p == end)
            break;
        if (p + ENTRY_HEAD_SIZE > limit)  // the head itself would leave the buffer
            return ERR_ENTRY_ROOM;
        const uint8_t *head = area.start + p;
        uint32_t entry_length = get_be32(head + ENTRY_LENGTH);
        if (head[ENTRY_KEY] == 0 || entry_length == 0)
            break;
        if (std::memcmp(head + ENTRY_KEY, key, ENTRY_KEY_SIZE) == 0) {
            // An increment needs the four bytes of a number.
            if (entry_length != length || (!with_source && length < SERIAL_DATA_SIZE))
                return ERR_ENTRY_LENGTH;
            // Only a damaged list has an entry whose data runs past the area.
            if (uint64_t(p) + ENTRY_HEAD_SIZE + length > end)
                return ERR_ENTRY_ROOM;
            *spot = {area.start + p, true};
            return STATUS_OK;
        }
        uint64_t next = uint64_t(p) + ENTRY_HEAD_SIZE + entry_length;
        if (next > end)
            return ERR_ENTRY_ROOM;
        p = size_t(next);
    }

    if (!with_source)
        return ERR_ENTRY_MISSING;
    uint64_t append_end = uint64_t(p) + ENTRY_HEAD_SIZE + length + ENTRY_HEAD_SIZE;
    if (append_end > limit)
        return ERR_ENTRY_ROOM;
    // Behind the head that ended the list, the kept bytes may be payload; an
    // append may only take those that carry nothing.
    const uint8_t *kept_from = area.start + p + (p < end ? ENTRY_HEAD_SIZE : 0);
    const uint8_t *covered_to = area.start + append_end;
    if (covered_to > area.kept)
        covered_to = area.kept;
    if (kept_from < covered_to && !unused(kept_from, covered_to))
        return ERR_ENTRY_ROOM;
    *spot = {area.start + p, false};
    return STATUS_OK;
}

// Number of bytes write_entry changes at spot.at.
uint32_t touched_bytes(const EntrySpot &spot, uint32_t length)
{
    return spot.found ? ENTRY_HEAD_SIZE + length : ENTRY_HEAD_SIZE + length + ENTRY_HEAD_SIZE;
}

// Makes the change that find_entry has allowed; returns the new length.
uint32_t write_entry(const uint8_t *key, const EntryArea &area, const EntrySpot &spot,
                     uint32_t length, const uint8_t *source, uint32_t *new_value)
{
    uint8_t *data = spot.at + ENTRY_HEAD_SIZE;
    if (spot.found) {
        if (source) {
            std::memcpy(data, source, length);
        } else {
            uint32_t value = get_be32(data) + 1;  // wraps to 0 after FFFFFFFF
            put_be32(data, value);
            *new_value = value;
        }
        return uint32_t(area.end - area.start);
    }
    std::memcpy(spot.at + ENTRY_KEY, key, ENTRY_KEY_SIZE);
    put_be32(spot.at + ENTRY_LENGTH, length);
    std::memcpy(data, source, length);
    std::memset(data + length, 0, ENTRY_HEAD_SIZE);
    return uint32_t(data + length + ENTRY_HEAD_SIZE - area.start);
}

}  // namespace

int32_t set_entry(const uint8_t *key, const EntryArea &area, uint32_t length,
                  const uint8_t *source, uint32_t *new_value, uint32_t *new_length)
{
    EntrySpot spot{};
    int32_t rc = find_entry(key, area, length, source != nullptr, &spot);
    if (rc != 0)
        return rc;
    *new_length = write_entry(key, area, spot, length, source, new_value);
    return STATUS_OK;
}

int32_t stamp_entries(const EntryArea &area, uint32_t *new_length)
{
    uint32_t current = uint32_t(area.end - area.start);
    EntryArea rest = area;
    int32_t stamped = serial_number;

    // The "SNBR" change is undone if the "_TYP" step fails, so that a failed
    // stamping leaves the area as it was.
    uint8_t saved[MAX_APPEND];
    uint8_t *saved_at = nullptr;
    uint32_t saved_size = 0;

    if (serial_mode == SERIAL_SET || serial_mode == SERIAL_INCREMENT) {
        uint8_t number[SERIAL_DATA_SIZE];
        put_be32(number, uint32_t(serial_number));
        const uint8_t *source = serial_mode == SERIAL_SET ? number : nullptr;
        EntrySpot spot{};
        int32_t rc = find_entry(key_serial, rest, SERIAL_DATA_SIZE, source != nullptr, &spot);
        if (rc != 0)
            return rc;
        saved_at = spot.at;
        saved_size = touched_bytes(spot, SERIAL_DATA_SIZE);
        std::memcpy(saved, saved_at, saved_size);
        uint32_t value = 0;
        current = write_entry(key_serial, rest, spot, SERIAL_DATA_SIZE, source, &value);
        if (!source)
            stamped = int32_t(value);
        rest.end = rest.start + current;
    }

    if (configuration[0] != 0) {
        int32_t rc = set_entry(key_type, rest, TYPE_DATA_SIZE,
                               reinterpret_cast<const uint8_t *>(configuration), nullptr, &current);
        if (rc != 0) {
            if (saved_at)
                std::memcpy(saved_at, saved, saved_size);
            return rc;
        }
    }

    serial_number = stamped;
    *new_length = current;
    return STATUS_OK;
}
