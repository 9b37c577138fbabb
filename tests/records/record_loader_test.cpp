// Loading record files into the module image.
#include "records/record_loader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "fixtures.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

class RecordLoader : public StateTest {
protected:
    // Loads content into a fresh image of capacity + 32 bytes preset to FF.
    int32_t load(const Bytes &content, uint32_t capacity = 1028)
    {
        write_file(dir.file("in.abs"), content);
        block = std::vector<uint8_t>(capacity + 32, 0xFF);
        return load_records(&found, dir.file("in.abs").c_str(), block.data(), capacity,
                            uint32_t(block.size()));
    }

    int32_t load_hex(const Bytes &content, uint32_t capacity = 1028)
    {
        write_file(dir.file("in.hex"), content);
        block = std::vector<uint8_t>(capacity + 32, 0xFF);
        return load_hex_records(&found, dir.file("in.hex").c_str(), block.data(), capacity,
                                uint32_t(block.size()));
    }

    Bytes image(size_t from, size_t n) const { return Bytes(block.begin() + from, block.begin() + from + n); }

    std::vector<uint8_t> block;
};

const std::string S1_AT_0 = "S1130000000102030405060708090A0B0C0D0E0F74";

}  // namespace

TEST_F(RecordLoader, RecordsGoToTheirAddressLessTheLinkAddress)
{
    ASSERT_EQ(load(S1_AT_0 + "\n"), 0);
    EXPECT_EQ(image(0, 17), hex_bytes("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F FF"));
    EXPECT_EQ(link_record, 1);
    EXPECT_EQ(loaded_bytes, 16u);

    link_address = 0x100;  // the record lies below the link address
    EXPECT_EQ(load(S1_AT_0 + "\n"), ERR_IMAGE_FIT);
    EXPECT_EQ(image(0, 1), hex_bytes("FF"));
}

TEST_F(RecordLoader, HeaderDataAndEndAtTheLinkAddress)
{
    link_address = 0x8000;
    std::string text = s_record('0', 0, 2, "HDR") + "\n" + s_data('1', 0x8000, Bytes(16, 'a')) +
                       "\n" + s_data('1', 0x8010, Bytes(8, 'b')) + "\n" +
                       s_record('9', 0x8000, 2, "") + "\n" +
                       s_data('1', 0x8000, Bytes(16, 'z')) + "\n";  // after the end: never read
    ASSERT_EQ(load(text), 0);
    EXPECT_EQ(image(0, 25), Bytes(16, 'a') + Bytes(8, 'b') + "\xFF");
    EXPECT_EQ(link_record, 1);
    EXPECT_EQ(loaded_bytes, 24u);
}

TEST_F(RecordLoader, OnlyAcceptedDataAndS5RecordsTakeNumbers)
{
    link_address = 0x8000;
    Bytes text = std::string("\r\n\x1A") + s_record('0', 0, 2, "HDR") + "\n" +
                 s_data('1', 0x8010, "x") + "\n" +                      // 1
                 s_record('5', 1, 2, "") + "\n" +                        // 2
                 t_record('5', 0, 2, "") + t_record('0', 0, 0, "t0") +   // none
                 "S102FFFE\n" +                                          // too short: none
                 "S4 and S6 are no types\n" +                            // none
                 s_data('2', 0x8000, "y") + "\n" +                       // 3
                 s_data('3', 0x8020, "w") + "\n";                        // 4
    ASSERT_EQ(load(text), 0);
    EXPECT_EQ(link_record, 3);
    EXPECT_EQ(image(0, 1), "y");
    EXPECT_EQ(image(16, 1), "x");
    EXPECT_EQ(image(32, 1), "w");
    EXPECT_EQ(loaded_bytes, 3u);
}

TEST_F(RecordLoader, TheLastRecordAtTheLinkAddressCounts)
{
    link_address = 0x8000;
    std::string text = s_data('1', 0x8000, "ab") + "\n" + s_data('1', 0x8002, "cd") + "\n" +
                       s_data('1', 0x8000, "A") + "\n";  // overlaps and overwrites
    ASSERT_EQ(load(text), 0);
    EXPECT_EQ(link_record, 3);
    EXPECT_EQ(image(0, 5), "Abcd\xFF");
}

TEST_F(RecordLoader, TRecordsLoadWithOrWithoutLineFeeds)
{
    Bytes records = t_record('0', 0, 0, Bytes(20, 'D')) + t_record('3', 0, 4, "abcd") +
                    t_record('3', 4, 4, "efgh") + hex_bytes("54 37 01 FE");
    Bytes with_lf;
    for (const Bytes &r : {t_record('0', 0, 0, Bytes(20, 'D')), t_record('3', 0, 4, "abcd"),
                           t_record('3', 4, 4, "efgh"), hex_bytes("54 37 01 FE")})
        with_lf += r + "\n";
    for (const Bytes &text : {records, with_lf}) {
        ASSERT_EQ(load(text), 0);
        EXPECT_EQ(image(0, 9), "abcdefgh\xFF");
        EXPECT_EQ(link_record, 1);
        EXPECT_EQ(loaded_bytes, 8u);
    }
}

TEST_F(RecordLoader, CapacityEdges)
{
    // A record may end exactly at capacity, not one byte beyond.
    EXPECT_EQ(load(s_data('1', 1028 - 16, Bytes(16, 'e')) + "\n"), 0);
    EXPECT_EQ(image(1012, 17), Bytes(16, 'e') + "\xFF");
    EXPECT_EQ(load(s_data('1', 1028 - 15, Bytes(16, 'e')) + "\n"), ERR_IMAGE_FIT);
    EXPECT_EQ(image(1013, 16), Bytes(16, '\xFF'));
    EXPECT_EQ(loaded_bytes, 16u);  // the refused record is counted

    // Records before the failing one stay loaded.
    EXPECT_EQ(load(s_data('1', 0, "keep") + "\n" + s_data('3', 0x80000000, "x") + "\n" +
                   s_data('1', 4, "never") + "\n"),
              ERR_IMAGE_FIT);
    EXPECT_EQ(image(0, 5), "keep\xFF");

    // An address just below the link address is a negative offset, even
    // where offset + length wraps around to a small number.
    link_address = 0x8000;
    EXPECT_EQ(load(s_data('1', 0x7FFF, "xy") + "\n"), ERR_IMAGE_FIT);
    EXPECT_EQ(image(0, 1), "\xFF");
    link_address = 0;

    // A record of no data loads nothing, wherever it is.
    EXPECT_EQ(load(s_data('3', 0x90000000, "") + "\n"), 0);

    EXPECT_EQ(load(S1_AT_0, 67), ERR_IMAGE_FIT);
}

TEST_F(RecordLoader, LongLinesLoadWholeOrNotAtAll)
{
    link_address = 0x8000;
    // objcopy's longest lines: 252 data bytes after an S1 address.
    std::string longest = s_data('1', 0x8000, Bytes(252, 'L'));
    // A line longer than any record whose tail reads like a record.
    std::string overlong = std::string(1, 'S').append(RECORD_BUFFER_SIZE, '0') + s_data('1', 0x8100, "T");
    ASSERT_EQ(load(longest + "\r\n" + overlong + "\n" + s_data('1', 0x8200, "n") + "\n"), 0);
    EXPECT_EQ(image(0, 253), Bytes(252, 'L') + "\xFF");
    EXPECT_EQ(image(0x100, 1), "\xFF");
    EXPECT_EQ(image(0x200, 1), "n");
    EXPECT_EQ(link_record, 1);
}

TEST_F(RecordLoader, TheSummaryIsFilledFromTheModule)
{
    std::memcpy(summary.tag, "OLDTAG!!", 8);
    summary.number = 5;
    ASSERT_EQ(load(s_data('1', 0, small_module()) + "\n"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(summary.tag), 8), "DATADATA");
    EXPECT_EQ(get_be32(summary.size), 44u);
    EXPECT_EQ(get_be16(summary.crc), 0xF7C2);
    EXPECT_EQ(summary.number, 5);

    std::memcpy(summary.tag, "OLDTAG!!", 8);
    EXPECT_EQ(load(S1_AT_0, 60), ERR_IMAGE_FIT);  // not filled, but cleared
    EXPECT_EQ(summary.tag[0], 0);
}

TEST_F(RecordLoader, FilesThatCannotBeRead)
{
    block = std::vector<uint8_t>(1060, 0xFF);
    EXPECT_EQ(load_records(&found, dir.file("missing.abs").c_str(), block.data(), 1028, 1060), ENOENT);
    // A directory opens but cannot be read: not a silent partial load.
    EXPECT_EQ(load_records(&found, dir.path().c_str(), block.data(), 1028, 1060), ERR_READ_SHORT);
}

TEST_F(RecordLoader, IntelHexRecordsGoToBasePlusAddress)
{
    // The link record is split from its 04 record by other records; only
    // data records take numbers; nothing after the end of file is read.
    link_address = 0x18000;
    std::string text = ihex_linear_base(0x10000) + "\n" + ihex_record(0, 0x8010, Bytes(4, 'b')) +
                       "\n" + ihex_record(0x05, 0, hex_bytes("00 01 80 00")) + "\n" +
                       ihex_record(0, 0x8000, Bytes(16, 'a')) + "\r\n" + IHEX_END + "\n" +
                       ihex_record(0, 0x8000, Bytes(16, 'z')) + "\n";
    ASSERT_EQ(load_hex(text), 0);
    EXPECT_EQ(image(0, 21), Bytes(16, 'a') + Bytes(4, 'b') + "\xFF");
    EXPECT_EQ(link_record, 2);
    EXPECT_EQ(loaded_bytes, 20u);

    // Extended segment addresses; and a file with no base record at all.
    init_state();
    link_address = 0x1FFF0;
    ASSERT_EQ(load_hex(ihex_record(0x02, 0, hex_bytes("10 00")) + "\n" +
                       ihex_record(0, 0xFFF0, Bytes(16, 'c')) + "\n" +
                       ihex_record(0x02, 0, hex_bytes("20 00")) + "\n" +
                       ihex_record(0, 0x0000, Bytes(8, 'd')) + "\n"),
              0);
    EXPECT_EQ(image(0, 24), Bytes(16, 'c') + Bytes(8, 'd'));
    EXPECT_EQ(link_record, 1);
    init_state();
    link_address = 0x100;
    ASSERT_EQ(load_hex(ihex_record(0, 0x100, "xy")), 0);  // and no line end
    EXPECT_EQ(image(0, 2), "xy");
    EXPECT_EQ(link_record, 1);
}

TEST_F(RecordLoader, LinesThatAreNoIntelHexRecordsArePassedOver)
{
    link_address = 0x8000;
    std::string text = ihex_record(0x07, 0x8000, "type") + "\n" +
                       s_data('1', 0x8000, "srec") + "\n" +          // stray bytes here
                       ihex_record(0, 0x8004, "good") + "\n";
    ASSERT_EQ(load_hex(text), 0);
    EXPECT_EQ(image(0, 8), Bytes(4, '\xFF') + "good");
    EXPECT_EQ(link_record, 0);  // nothing that decoded starts at the link address

    // A link address inside a record: that record lies below it.
    init_state();
    link_address = 0x8010;
    EXPECT_EQ(load_hex(ihex_record(0, 0x8000, Bytes(32, 'e')) + "\n"), ERR_IMAGE_FIT);
    EXPECT_EQ(link_record, 0);
}
