// The entry list: set_entry and stamp_entries.
#include "module/entries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "builders.h"
#include "driver/option_parser.h"
#include "fixtures.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

Bytes entry(const std::string &key, const Bytes &data)
{
    Bytes head = key + Bytes(8 - key.size(), '\0');
    uint32_t n = uint32_t(data.size());
    head += char(n >> 24);
    head += char(n >> 16);
    head += char(n >> 8);
    head += char(n);
    return head + data;
}

}  // namespace

// An area at the start of a 200-byte buffer. Bytes behind the room that
// stamping may use hold a canary, so that any write beyond it shows.
class Entries : public StateTest {
protected:
    static constexpr size_t BUFFER = 200;
    static constexpr char CANARY = char(0xEE);

    // The area holds content; an append may write up to room bytes from the
    // start. Bytes between the content and room are erased (FF).
    void place(const Bytes &content, size_t room = 120)
    {
        buffer.assign(BUFFER, CANARY);
        std::fill(buffer.begin(), buffer.begin() + long(room), char(0xFF));
        std::copy(content.begin(), content.end(), buffer.begin());
        uint8_t *start = reinterpret_cast<uint8_t *>(buffer.data());
        area = {start, start + content.size(), start + content.size(), start + room};
    }
    Bytes bytes(size_t n) const { return buffer.substr(0, n); }
    int32_t stamp() { return stamp_entries(area, &length); }

    Bytes buffer;
    EntryArea area{};
    uint32_t length = 0;
};

TEST_F(Entries, SetAppendsWhereTheListEnds)
{
    serial_mode = SERIAL_SET;
    serial_number = 5;
    place("");
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(bytes(29), entry("SNBR", hex_bytes("00 00 00 05")) + terminator + char(0xFF));

    // A terminator at offset 40 is written over.
    Bytes list = entry("AAAA", Bytes(12, 'a')) + entry("BBBB", Bytes(4, 'b')) + terminator;
    ASSERT_EQ(list.size(), 52u);
    place(list);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 68u);
    EXPECT_EQ(bytes(68), list.substr(0, 40) + entry("SNBR", hex_bytes("00 00 00 05")) + terminator);

    // A list that fills its area without a terminator grows behind it.
    list = entry("AAAA", Bytes(12, 'a'));
    place(list);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 24u + 12 + 4 + 12);
    EXPECT_EQ(bytes(52), list + entry("SNBR", hex_bytes("00 00 00 05")) + terminator);

    // A zero length ends the list even under a nonzero key.
    place(entry("XXXX", "") + Bytes(12, '\0'));
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(bytes(28), entry("SNBR", hex_bytes("00 00 00 05")) + terminator);

    serial_number = -1;
    place(entry("SNBR", hex_bytes("00 00 00 07")) + terminator);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(bytes(16), entry("SNBR", hex_bytes("FF FF FF FF")));
}

TEST_F(Entries, IncrementWrapsAndReportsTheNumber)
{
    serial_mode = SERIAL_INCREMENT;
    Bytes rest = entry("_CFG", Bytes(24, 'c'));
    place(entry("SNBR", hex_bytes("00 00 00 FF")) + rest);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 52u);  // changed in place: the area's length
    EXPECT_EQ(serial_number, 256);
    EXPECT_EQ(bytes(52), entry("SNBR", hex_bytes("00 00 01 00")) + rest);

    place(entry("SNBR", hex_bytes("FF FF FF FF")) + terminator);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(serial_number, 0);
    EXPECT_EQ(bytes(16), entry("SNBR", hex_bytes("00 00 00 00")));

    // "SNBR" with more in its key is another entry and is stepped over.
    Bytes other = Bytes("SNBRX") + Bytes(3, '\0') + hex_bytes("00 00 00 04 00 00 00 09");
    place(other + entry("SNBR", hex_bytes("00 00 00 01")) + terminator);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(serial_number, 2);
    EXPECT_EQ(bytes(32), other + entry("SNBR", hex_bytes("00 00 00 02")));
}

TEST_F(Entries, RefusalsChangeNothing)
{
    ASSERT_EQ(set_option('X', "TYPETEXT"), STATUS_OK);
    serial_mode = SERIAL_INCREMENT;
    serial_number = 41;
    Bytes list = entry("_TYP", Bytes(12, 't')) + terminator;
    place(list);
    Bytes before = buffer;
    EXPECT_EQ(stamp(), ERR_ENTRY_MISSING);
    EXPECT_EQ(buffer, before);  // and "_TYP" was not replaced
    EXPECT_EQ(serial_number, 41);

    for (int32_t mode : {SERIAL_SET, SERIAL_INCREMENT}) {
        serial_mode = mode;
        place(entry("SNBR", Bytes(8, '\1')) + terminator);
        before = buffer;
        EXPECT_EQ(stamp(), ERR_ENTRY_LENGTH) << mode;
        EXPECT_EQ(buffer, before);
    }
    serial_mode = SERIAL_NONE;
    place(entry("_TYP", Bytes(11, 't')) + terminator);
    before = buffer;
    EXPECT_EQ(stamp(), ERR_ENTRY_LENGTH);
    EXPECT_EQ(buffer, before);

    // A failing "_TYP" step undoes the "SNBR" change.
    serial_mode = SERIAL_INCREMENT;
    place(entry("SNBR", hex_bytes("00 00 00 01")) + entry("_TYP", Bytes(3, 't')) + terminator);
    before = buffer;
    EXPECT_EQ(stamp(), ERR_ENTRY_LENGTH);
    EXPECT_EQ(buffer, before);
    EXPECT_EQ(serial_number, 41);
    serial_mode = SERIAL_SET;
    place(entry("_TYP", Bytes(3, 't')) + terminator);
    before = buffer;
    EXPECT_EQ(stamp(), ERR_ENTRY_LENGTH);
    EXPECT_EQ(buffer, before);
}

TEST_F(Entries, BothKeysTogether)
{
    ASSERT_EQ(set_option('X', "ABCDEFGHIJKLMNO"), STATUS_OK);  // 15 characters: 11 are kept
    const Bytes typ = entry("_TYP", Bytes("ABCDEFGHIJK") + '\0');
    serial_mode = SERIAL_SET;
    serial_number = 0x01020304;

    // Both absent: "SNBR", then "_TYP" over the first terminator, one terminator.
    place(terminator);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 16u + 24 + 12);
    EXPECT_EQ(bytes(53), entry("SNBR", hex_bytes("01 02 03 04")) + typ + terminator + char(0xFF));

    // "_TYP" present: replaced in place; the length covers the new "SNBR".
    Bytes old_typ = entry("_TYP", Bytes(12, 'z'));
    place(old_typ + terminator + Bytes(28, '\0'));
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 24u + 16 + 12);
    EXPECT_EQ(bytes(52), typ + entry("SNBR", hex_bytes("01 02 03 04")) + terminator);

    // Neither request: nothing happens.
    serial_mode = SERIAL_NONE;
    configuration[0] = 0;
    place("abc");
    Bytes before = buffer;
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(buffer, before);
}

TEST_F(Entries, DamagedListsStayInsideTheArea)
{
    serial_mode = SERIAL_SET;
    serial_number = 1;
    auto refused = [&](const Bytes &content, size_t room, const char *what) {
        place(content, room);
        Bytes before = buffer;
        EXPECT_EQ(stamp(), ERR_ENTRY_ROOM) << what;
        EXPECT_EQ(buffer, before) << what;
    };
    // A length that would wrap the position, and one that runs past the end.
    refused(entry("AAAA", "").substr(0, 8) + hex_bytes("FF FF FF F8") + Bytes(20, 'a'), 120,
            "wrap");
    refused(entry("AAAA", Bytes(4, 'a')).substr(0, 8) + hex_bytes("00 00 00 09") + Bytes(4, 'a'),
            120, "past end");
    // "SNBR" found, but its data runs past the area.
    refused(entry("SNBR", "").substr(0, 8) + hex_bytes("00 00 00 04") + "xx", 120, "data past end");
    // A head that would be read beyond the room.
    refused(entry("AAAA", "x").substr(0, 10), 10, "head beyond room");
    // No room for head, data and terminator.
    refused(entry("AAAA", "x") + terminator, 13 + 27, "no room");
    // Payload behind the terminator is not overwritten...
    refused(terminator + Bytes(10, '\0') + "payload", 120, "payload");

    // ...but zero and erased bytes may be taken.
    Bytes unused = terminator + Bytes(8, '\0') + Bytes(8, char(0xFF)) + "payload";
    place(unused);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(bytes(35), entry("SNBR", hex_bytes("00 00 00 01")) + terminator + "payload");

    // Exactly enough room: nothing is written past it.
    place(entry("AAAA", "x"), 13 + 28);
    ASSERT_EQ(stamp(), STATUS_OK);
    EXPECT_EQ(length, 41u);
    EXPECT_EQ(buffer[41], CANARY);
}

TEST_F(Entries, SetEntryWithoutStamping)
{
    place(entry("AAAA", "12") + terminator);
    uint8_t data[3] = {'x', 'y', 'z'};
    uint32_t value = 0;
    EXPECT_EQ(set_entry(key_config, area, 3, data, &value, &length), STATUS_OK);
    EXPECT_EQ(length, 14u + 15 + 12);
    EXPECT_EQ(bytes(41), entry("AAAA", "12") + entry("_CFG", "xyz") + terminator);
    EntryArea grown = area;
    grown.end = grown.kept = area.start + length;
    EXPECT_EQ(set_entry(key_type, grown, 4, nullptr, &value, &length), ERR_ENTRY_MISSING);
    EXPECT_EQ(set_entry(key_config, grown, 3, nullptr, &value, &length), ERR_ENTRY_LENGTH);
}
