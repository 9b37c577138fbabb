// Writing the module as T-records.
#include "records/thx_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "fixtures.h"
#include "records/record_loader.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

class ThxWriter : public StateTest {
protected:
    // Writes module (in a block 32 bytes larger) as out.thx and returns the status.
    int32_t write(const Bytes &module)
    {
        block.assign(module.begin(), module.end());
        block.resize(module.size() + 32, 0xFF);
        StdoutCapture capture;
        int32_t rc = write_thx_file(dir.file("out.thx").c_str(), block.data(), uint32_t(block.size()));
        commit_test_files();
        out = capture.stop();
        return rc;
    }

    Bytes written() const { return read_file(dir.file("out.thx")); }

    std::vector<uint8_t> block;
    std::string out;
};

// Splits a thx file into its records by their count bytes.
std::vector<Bytes> records_of(const Bytes &file)
{
    std::vector<Bytes> records;
    for (size_t at = 0; at + 3 <= file.size();) {
        size_t n = 3 + uint8_t(file[at + 2]);
        records.push_back(file.substr(at, n));
        at += n;
    }
    return records;
}

}  // namespace

TEST(BuildTRecord, LayoutOfEachType)
{
    uint8_t buffer[T_RECORD_MAX];
    TRecordSpec end{'7', 0x1234, nullptr, 0};
    ASSERT_EQ(build_t_record(buffer, &end), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), hex_bytes("54 37 01 FE"));

    // T3: count = length + 5, the address big-endian, the data, the checksum.
    const uint8_t data[] = {0x01, 0x02};
    TRecordSpec t3{'3', 0x00010203, data, 2};
    ASSERT_EQ(build_t_record(buffer, &t3), 10);
    EXPECT_EQ(Bytes(buffer, buffer + 10), hex_bytes("54 33 07 00 01 02 03 01 02 EF"));

    // T0 has no address.
    TRecordSpec t0{'0', 0x1234, data, 2};
    ASSERT_EQ(build_t_record(buffer, &t0), 6);
    EXPECT_EQ(Bytes(buffer, buffer + 6), hex_bytes("54 30 03 01 02 F9"));

    // The longest T3 fills the count byte: 250 data bytes, 258 in all.
    std::vector<uint8_t> big(251, 0xAA);
    TRecordSpec longest{'3', 0, big.data(), 250};
    ASSERT_EQ(build_t_record(buffer, &longest), T_RECORD_MAX);
    EXPECT_EQ(buffer[2], 255);
    DecodeState state = {};
    EXPECT_EQ(decode_record(&state, buffer, T_RECORD_MAX), 0);
    EXPECT_EQ(state.length, 250);

    TRecordSpec too_long{'3', 0, big.data(), 251};
    TRecordSpec negative{'0', 0, data, -1};
    TRecordSpec other{'1', 0, data, 2};
    EXPECT_EQ(build_t_record(buffer, &too_long), -1);
    EXPECT_EQ(build_t_record(buffer, &negative), -1);
    EXPECT_EQ(build_t_record(buffer, &other), -1);
}

TEST_F(ThxWriter, FiveHundredBytesAtTheDefaultRecordSize)
{
    link_address = 0x10000;
    Bytes module = test_module(500);
    ASSERT_EQ(write(module), 0);
    Bytes file = written();
    ASSERT_EQ(file.size(), 552u);  // 24 + 255 + 255 + 14 + 4
    std::vector<Bytes> records = records_of(file);
    ASSERT_EQ(records.size(), 5u);
    // T0 carries the thd record: tag, version, crc, size, type, zeros.
    EXPECT_EQ(records[0], t_record('0', 0, 0, "TESTMODU" + hex_bytes("00 03 FF FF 00 00 01 F4 00 00 00 00")));
    EXPECT_EQ(records[1], t_record('3', 0x10000, 4, module.substr(0, 247)));
    EXPECT_EQ(records[2], t_record('3', 0x100F7, 4, module.substr(247, 247)));
    EXPECT_EQ(records[3], t_record('3', 0x101EE, 4, module.substr(494)));
    EXPECT_EQ(records[4], hex_bytes("54 37 01 FE"));
    EXPECT_EQ(out, "");
}

TEST_F(ThxWriter, RecordSizes)
{
    Bytes module = test_module(48);
    record_size = 16;
    ASSERT_EQ(write(module), 0);
    std::vector<Bytes> records = records_of(written());
    ASSERT_EQ(records.size(), 5u);  // an exact multiple: no empty T3 at the end
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(records[1 + i], t_record('3', 16 * i, 4, module.substr(16 * i, 16))) << i;

    record_size = 0;  // as the default; the setting itself stays as given
    ASSERT_EQ(write(test_module(500)), 0);
    EXPECT_EQ(record_size, 0);
    EXPECT_EQ(written().size(), 552u);

    record_size = 250;
    ASSERT_EQ(write(test_module(500)), 0);
    EXPECT_EQ(records_of(written())[1].size(), 258u);
}

TEST_F(ThxWriter, RecordSizesTheCountByteCannotHoldAreRefused)
{
    write_file(dir.file("out.thx"), "old");
    for (int32_t size : {251, -1, 1000000}) {
        record_size = size;
        EXPECT_EQ(write(test_module(48)), 1);
        EXPECT_EQ(out, "Record size " + std::to_string(size) + " is out of range 0 to 250\n");
        EXPECT_EQ(written(), "old");
    }
}

TEST_F(ThxWriter, LoadsBackIntoTheSameImage)
{
    for (uint32_t link : {0u, 0x8000u, 0xFFFFFF00u}) {
        link_address = link;
        Bytes module = test_module(1000);
        ASSERT_EQ(write(module), 0);
        std::vector<uint8_t> image(1060, 0xFF);
        ASSERT_EQ(load_records(&found, dir.file("out.thx").c_str(), image.data(), 1028, 1060), 0) << link;
        EXPECT_EQ(Bytes(image.begin(), image.begin() + 1001), module + "\xFF");
        EXPECT_EQ(loaded_bytes, 1000u);
        EXPECT_EQ(link_record, 1);
    }
}

TEST_F(ThxWriter, AFailedWriteLeavesTheOldFile)
{
    // A module whose size lies beyond its block is never written.
    write_file(dir.file("out.thx"), "old");
    Bytes module = test_module(48);
    module[10] = 0x10;  // size 0x1030
    EXPECT_EQ(write(module), 1);
    EXPECT_EQ(written(), "old");
    EXPECT_EQ(files_in(dir.path()).size(), 1u);  // no temporary file left

    if (!file_exists("/dev/full"))
        GTEST_SKIP() << "no always-full device";
    FILE *full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    Bytes big = test_module(20000);
    EXPECT_EQ(write_thx(full, reinterpret_cast<const uint8_t *>(big.data()), uint32_t(big.size())), 1);
    std::fclose(full);
}

TEST_F(ThxWriter, FilesThatCannotBeOpened)
{
    std::string nowhere = dir.file("no/such/dir/out.thx");
    Bytes module = test_module(48);
    EXPECT_EQ(write_thx_file(nowhere.c_str(), reinterpret_cast<uint8_t *>(module.data()),
                             uint32_t(module.size())),
              ENOENT);
}
