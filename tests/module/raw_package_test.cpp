// Packaging raw data: header and name, data and fill, entry stamping with
// its write-back, generic.tmp and the capacity limits.
#include "module/raw_package.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "driver/info_file.h"
#include "driver/option_parser.h"
#include "fixtures.h"
#include "module/image_builder.h"
#include "module_layout.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

// One entry of n bytes in all: head and n - 12 bytes of data.
Bytes filler_entry(uint32_t n)
{
    Bytes e = Bytes("FILL") + Bytes(4, '\0');
    uint32_t length = n - 12;
    e += char(length >> 24);
    e += char(length >> 16);
    e += char(length >> 8);
    e += char(length);
    return e + Bytes(length, 'f');
}

Bytes header_with(uint32_t size, uint32_t data_offset, uint8_t type = 0)
{
    Bytes h(reinterpret_cast<const char *>(fresh_header), HEADER_SIZE);
    auto *p = reinterpret_cast<uint8_t *>(h.data());
    put_be32(p + HDR_SIZE, size);
    p[HDR_TYPE] = type;
    put_be32(p + HDR_NAME_OFFSET, 36);
    put_be32(p + HDR_DATA_OFFSET, data_offset);
    return h;
}

}  // namespace

// Runs in a fresh working directory holding data.raw, info.txt and
// generic.tmp. The image is a malloc'd block sized as build_image sizes it,
// so that the sanitizer sees any write past it.
class RawPackage : public WorkingDirTest {
protected:
    void SetUp() override
    {
        WorkingDirTest::SetUp();
        options = OPT_IN_RAW;
    }
    void TearDown() override
    {
        std::free(block_bytes);
        WorkingDirTest::TearDown();
    }

    // Packages raw (none: no raw file) with the info file text; returns the
    // printed text. capacity 0 takes the capacity build_image would take.
    std::string pack(const Bytes *raw, const Bytes &info, int32_t expected, uint32_t capacity = 0)
    {
        if (raw)
            write_file(raw_name, *raw);
        write_file("info.txt", info);
        if (capacity == 0)
            capacity = image_capacity(raw ? raw->size() : 0);
        block = (capacity / 16 + 20) * 16;
        std::free(block_bytes);
        block_bytes = static_cast<uint8_t *>(std::malloc(block));
        std::memset(block_bytes, 0xFF, block);
        StdoutCapture out;
        int32_t status = package_raw(raw_name.c_str(), block_bytes, capacity, block, "info.txt",
                                     INFO_READER);
        EXPECT_EQ(status, expected);
        end_test_run(status);
        return out.stop();
    }
    std::string pack(const Bytes &raw, const Bytes &info, int32_t expected, uint32_t capacity = 0)
    {
        return pack(&raw, info, expected, capacity);
    }
    // The module as built, size taken from its header.
    Bytes module() const
    {
        uint32_t size = get_be32(block_bytes + HDR_SIZE);
        EXPECT_LE(size, block);
        return Bytes(reinterpret_cast<const char *>(block_bytes), size <= block ? size : 0);
    }

    std::string raw_name = "data.raw";
    uint8_t *block_bytes = nullptr;
    uint32_t block = 0;
};

TEST_F(RawPackage, NameAndFill)
{
    // Empty raw data and the name "A": the 44-byte module, CRC unset.
    EXPECT_EQ(pack("", "name=A\n", STATUS_OK), "");
    EXPECT_EQ(module(), small_module());
    EXPECT_EQ(get_be32(summary.size), 44u);
    EXPECT_EQ(get_be16(summary.crc), 0xF7C2);

    EXPECT_EQ(pack("", "name=ABC\n", STATUS_OK), "");
    EXPECT_EQ(module(), header_with(44, 40) + "ABC" + Bytes(1, '\0') + trailer);
    EXPECT_EQ(pack("", "name=ABCD\n", STATUS_OK), "");
    EXPECT_EQ(module(), header_with(48, 44) + "ABCD" + Bytes(4, '\0') + trailer);
    init_state();
    EXPECT_EQ(pack("", "# no name\n", STATUS_OK), "");
    EXPECT_EQ(module(), header_with(56, 52) + "No name given" + Bytes(3, '\0') + trailer);

    // Five bytes of data are followed by three zero bytes.
    EXPECT_EQ(pack("12345", "name=A\n", STATUS_OK), "");
    EXPECT_EQ(module(),
              header_with(52, 40) + "A" + Bytes(3, '\0') + "12345" + Bytes(3, '\0') + trailer);
}

TEST_F(RawPackage, HeaderFieldsFromTheInfoFile)
{
    // Options A, R and Y do not survive: the info file is read after the
    // summary was cleared. The number and the name given as options do.
    ASSERT_EQ(set_option('A', "OPTION"), STATUS_OK);
    ASSERT_EQ(set_option('Y', "5"), STATUS_OK);
    ASSERT_EQ(set_option('N', "7"), STATUS_OK);
    ASSERT_EQ(set_option('@', "B"), STATUS_OK);
    EXPECT_EQ(pack("", "", STATUS_OK), "");
    Bytes expected = header_with(44, 40) + "B" + Bytes(3, '\0') + trailer;
    expected[16] = 7;
    EXPECT_EQ(module(), expected);

    init_state();
    EXPECT_EQ(pack("", "tag=TAGGED12\nversion=0x0102\ntype=0x31\nnumber=300\nname=A\n",
                   STATUS_OK),
              "");
    expected = header_with(44, 40, 0x31) + "A" + Bytes(3, '\0') + trailer;
    expected.replace(16, 12, hex_bytes("2C 00 01 02") + "TAGGED12");
    EXPECT_EQ(module(), expected);

    // Zero values keep the fresh header's.
    init_state();
    EXPECT_EQ(pack("", "tag=\nversion=0\ntype=0\nnumber=0\nname=A\n", STATUS_OK), "");
    EXPECT_EQ(module(), small_module());
}

TEST_F(RawPackage, StampingWritesTheListBack)
{
    const Bytes info = "name=A\ntype=0x24\n";
    const Bytes tail = "rest of the raw file";
    Bytes raw = snbr(0x00000009) + terminator + tail;
    ASSERT_EQ(set_option('S', "+"), STATUS_OK);
    EXPECT_EQ(pack(raw, info, STATUS_OK), "");
    Bytes stamped = snbr(0x0000000A) + terminator + tail;
    EXPECT_EQ(read_file("data.raw"), stamped);  // only the number changed
    EXPECT_EQ(serial_number, 10);
    EXPECT_EQ(module(), header_with(92, 40, 0x24) + "A" + Bytes(3, '\0') + stamped + trailer);

    // An appended entry lengthens the file; the module's data ends with it.
    init_state();
    ASSERT_EQ(set_option('X', "TYPE"), STATUS_OK);
    raw = snbr(0x00000009) + terminator;
    EXPECT_EQ(pack(raw, info, STATUS_OK), "");
    Bytes list = snbr(0x00000009) + Bytes("_TYP") + Bytes(4, '\0') + hex_bytes("00 00 00 0C") +
                 "TYPE" + Bytes(8, '\0') + terminator;
    EXPECT_EQ(read_file("data.raw"), list);
    EXPECT_EQ(module(), header_with(96, 40, 0x24) + "A" + Bytes(3, '\0') + list + trailer);

    // A raw file that vanished is made anew with the set number...
    init_state();
    std::remove("data.raw");
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    EXPECT_EQ(pack(nullptr, info, STATUS_OK), "");
    EXPECT_EQ(read_file("data.raw"), snbr(0x00000005) + terminator);
    // ...but not for an increment, and without stamping it stays empty.
    init_state();
    std::remove("data.raw");
    ASSERT_EQ(set_option('S', "+"), STATUS_OK);
    EXPECT_EQ(pack(nullptr, info, ENOENT), "");
    EXPECT_FALSE(file_exists("data.raw"));
    EXPECT_EQ(get_be32(summary.size), 0u);
    EXPECT_EQ(summary.type, 0x24);  // what the info file set
    init_state();
    EXPECT_EQ(pack(nullptr, info, ERR_READ_SHORT), "");
    EXPECT_EQ(read_file("data.raw"), "");
    EXPECT_EQ(module(), small_module().replace(12, 1, "\x24"));
}

TEST_F(RawPackage, RefusedStampingLeavesTheRawFile)
{
    struct Row {
        Bytes raw;
        Bytes info;
        const char *serial;
        int32_t expected;
    };
    const Row rows[] = {
        {snbr(0x00000001) + terminator, "type=0x20\n", "5", ERR_TYPE_BITS},
        {snbr(0x00000001) + terminator, "", "+", ERR_TYPE_BITS},
        {terminator, "type=0x24\n", "+", ERR_ENTRY_MISSING},
        {Bytes("SNBR") + Bytes(4, '\0') + hex_bytes("00 00 00 08") + Bytes(8, '\0'), "type=0x24\n",
         "5", ERR_ENTRY_LENGTH},
        // Five bytes of data: the head reads erased bytes as its length.
        {"ABCDE", "type=0x24\n", "5", ERR_ENTRY_ROOM},
        // Data behind the list is not overwritten by an append.
        {terminator + "payload", "type=0x24\n", "5", ERR_ENTRY_ROOM},
    };
    for (const Row &row : rows) {
        init_state();
        options = OPT_IN_RAW;
        ASSERT_EQ(set_option('S', row.serial), STATUS_OK);
        EXPECT_EQ(pack(row.raw, row.info + "name=A\n", row.expected), "") << row.serial;
        EXPECT_EQ(read_file("data.raw"), row.raw);
        Bytes fill((4 - row.raw.size() % 4) % 4, '\0');
        EXPECT_EQ(module().substr(40), row.raw + fill + trailer);
    }

    // A configuration text alone asks for stamping too.
    init_state();
    ASSERT_EQ(set_option('X', "T"), STATUS_OK);
    EXPECT_EQ(pack(terminator, "name=A\n", ERR_TYPE_BITS), "");

    // The stamped list cannot be written (the disk is full): the raw file
    // keeps its content.
    init_state();
    options = OPT_IN_RAW;
    ASSERT_EQ(set_option('S', "+"), STATUS_OK);
    Bytes raw = snbr(0x00000001) + terminator;
    write_file(raw_name, raw);
    write_file("info.txt", "name=A\ntype=0x24\n");
    LimitedCall full = call_with_file_size_limit(8, [&] {
        std::vector<uint8_t> bytes(2048, 0xFF);
        return package_raw(raw_name.c_str(), bytes.data(), 1028, 2048, "info.txt", INFO_READER);
    });
    EXPECT_EQ(full.status, ERR_WRITE_SHORT);
    EXPECT_EQ(read_file(raw_name), raw);
}

TEST_F(RawPackage, InfoFileAndOpenFailures)
{
    EXPECT_EQ(pack("", "name=A\n", ERR_IMAGE_FIT, 67), "");
    EXPECT_EQ(pack("", "name=A\nbad line\n", STATUS_FAILED), "Unknown option \xFF\nbad line\n");
    write_file("data.raw", "");
    StdoutCapture out;
    uint8_t small[400];
    EXPECT_EQ(package_raw("data.raw", small, 80, sizeof small, nullptr, INFO_READER), ENOENT);
    EXPECT_EQ(out.stop(), "");
}

TEST_F(RawPackage, GenericTmpAndCapacity)
{
    const Bytes cfg_lines = "name=A\nCFG=ONE 1\n";
    EXPECT_EQ(pack("12345", cfg_lines, STATUS_OK), "");
    Bytes cfg = read_file("generic.tmp");
    ASSERT_EQ(cfg.size(), 32u);
    EXPECT_EQ(module(), header_with(84, 40) + "A" + Bytes(3, '\0') + "12345" + Bytes(3, '\0') +
                            cfg + trailer);

    // Raw data and generic.tmp share the capacity: 996 + 32 fit 1028...
    init_state();
    options = OPT_IN_RAW;
    EXPECT_EQ(pack(Bytes(996, 'r'), cfg_lines, STATUS_OK), "");
    EXPECT_EQ(module().substr(40 + 996, 32), cfg);
    // ...1000 + 32 do not; the trailer follows the data.
    init_state();
    options = OPT_IN_RAW;
    EXPECT_EQ(pack(Bytes(1000, 'r'), cfg_lines, ERR_IMAGE_FIT), "");
    EXPECT_EQ(module(), header_with(1044, 40) + "A" + Bytes(3, '\0') + Bytes(1000, 'r') + trailer);
    // A file of 1024 bytes or more leaves no room for generic.tmp.
    init_state();
    options = OPT_IN_RAW;
    EXPECT_EQ(pack(Bytes(1024, 'r'), cfg_lines, ERR_IMAGE_FIT), "");
    // generic.tmp from an earlier run is not read when this run made none.
    init_state();
    options = OPT_IN_RAW;
    EXPECT_EQ(pack("12345", "name=A\n", STATUS_OK), "");
    EXPECT_EQ(get_be32(block_bytes + HDR_SIZE), 52u);

    // Raw data beyond the capacity is not stamped, whether the last piece
    // reached the end of the file or not.
    for (uint32_t size : {200u, 2100u}) {
        init_state();
        options = OPT_IN_RAW;
        ASSERT_EQ(set_option('S', "5"), STATUS_OK);
        Bytes raw = terminator + Bytes(size - 12, '\0');
        EXPECT_EQ(pack(raw, "name=A\ntype=0x24\n", size < 1024 ? ERR_IMAGE_FIT : ERR_READ_SHORT,
                       size < 1024 ? 100 : 1100),
                  "");
        EXPECT_EQ(read_file("data.raw"), raw);
        EXPECT_EQ(get_be32(block_bytes + HDR_SIZE), size < 1024 ? 44u : 40 + 1024 + 4);
    }
}

TEST_F(RawPackage, AppendedEntriesStayInsideTheBlock)
{
    // The longest name, data that fill the capacity with generic.tmp, and an
    // appended "SNBR": the records no longer fit in front of the trailer.
    const Bytes info = "type=0x24\nCFG=ONE 1\n";
    const Bytes name(259, 'n');
    ASSERT_EQ(set_option('@', name.c_str()), STATUS_OK);
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    EXPECT_EQ(pack(filler_entry(996), info, ERR_IMAGE_FIT), "");
    EXPECT_EQ(block, 1344u);
    Bytes list = filler_entry(996) + snbr(0x00000005) + terminator;
    EXPECT_EQ(read_file("data.raw"), filler_entry(996));  // the run failed: not stamped
    EXPECT_EQ(module().substr(296), list + trailer);

    // With "_TYP" as well the entries do not fit at all.
    init_state();
    options = OPT_IN_RAW;
    ASSERT_EQ(set_option('@', name.c_str()), STATUS_OK);
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    ASSERT_EQ(set_option('X', "T"), STATUS_OK);
    EXPECT_EQ(pack(filler_entry(996), info, ERR_ENTRY_ROOM), "");
    EXPECT_EQ(read_file("data.raw"), filler_entry(996));
}
