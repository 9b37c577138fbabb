// Serial number stamping of module files loaded as "bin".
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "byte_order.h"
#include "driver/option_parser.h"
#include "module/image_builder.h"
#include "records/record_loader.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

const Bytes terminator(12, '\0');

Bytes snbr(const std::string &hex)
{
    return Bytes("SNBR") + Bytes(4, '\0') + hex_bytes("00 00 00 04 " + hex);
}

// A module with the name "A" whose data region (at 40) holds data; CRC unset.
Bytes module_with(const Bytes &data, uint8_t type = 0x24)
{
    Bytes m = small_module();
    m.insert(40, data);
    auto *p = reinterpret_cast<uint8_t *>(m.data());
    put_be32(p + HDR_SIZE, uint32_t(m.size()));
    p[HDR_TYPE] = type;
    return m;
}

// The module with its CRC set, as the stamping writes it back.
Bytes with_crc(Bytes m)
{
    auto *p = reinterpret_cast<uint8_t *>(m.data());
    put_be16(p, module_crc(p, uint32_t(m.size())));
    return m;
}

std::string summary_line(const Bytes &m)
{
    char line[80];
    const auto *p = reinterpret_cast<const uint8_t *>(m.data());
    std::snprintf(line, sizeof line, " DATADATA CRC %04X Size %u Type %02x Version 0000\n",
                  unsigned(module_crc(p, uint32_t(m.size()))), unsigned(m.size()), unsigned(p[12]));
    return line;
}

}  // namespace

class BinStamping : public ::testing::Test {
protected:
    void SetUp() override
    {
        init_state();
        path = dir.file("modu.bin");
    }
    void TearDown() override { init_state(); }

    // Runs command 2 on modu.bin holding content; returns the output.
    std::string build(const Bytes &content, int32_t expected)
    {
        write_file(path, content);
        input_path = path.data();
        options |= OPT_IN_BIN;
        StdoutCapture out;
        EXPECT_EQ(build_image(load_records), expected);
        return out.stop();
    }

    TempDir dir;
    std::string path;
};

TEST_F(BinStamping, SetAndIncrementRewriteTheFile)
{
    Bytes rest = Bytes("_CFG") + Bytes(4, '\0') + hex_bytes("00 00 00 04") + "cfg!";
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    Bytes stamped = with_crc(module_with(snbr("00 00 00 05") + terminator + rest));
    EXPECT_EQ(build(module_with(snbr("00 00 00 01") + terminator + rest), STATUS_OK),
              summary_line(stamped));  // and no CRC difference line
    EXPECT_EQ(read_file(path), stamped);
    EXPECT_EQ(serial_number, 5);

    init_state();
    ASSERT_EQ(set_option('S', "+"), STATUS_OK);
    ASSERT_EQ(set_option('X', "TYPE"), STATUS_OK);
    Bytes typ = Bytes("_TYP") + Bytes(4, '\0') + hex_bytes("00 00 00 0C") + "TYPE" + Bytes(8, '\0');
    Bytes old_typ = Bytes("_TYP") + Bytes(4, '\0') + hex_bytes("00 00 00 0C") + Bytes(12, 'o');
    stamped = with_crc(module_with(typ + snbr("00 00 00 06") + terminator));
    EXPECT_EQ(build(with_crc(module_with(old_typ + snbr("00 00 00 05") + terminator)), STATUS_OK),
              summary_line(stamped));
    EXPECT_EQ(read_file(path), stamped);
    EXPECT_EQ(serial_number, 6);

    // Unused bytes in front of the trailer take an appended entry; the size
    // stays.
    init_state();
    ASSERT_EQ(set_option('S', "7"), STATUS_OK);
    stamped = with_crc(module_with(snbr("00 00 00 07") + terminator + Bytes(4, char(0xFF))));
    EXPECT_EQ(build(module_with(terminator + Bytes(12, '\0') + Bytes(8, char(0xFF))), STATUS_OK),
              summary_line(stamped));
    EXPECT_EQ(read_file(path), stamped);
}

TEST_F(BinStamping, NothingToStamp)
{
    // A configuration text alone, or a type without both bits, stamps nothing.
    ASSERT_EQ(set_option('X', "TYPE"), STATUS_OK);
    Bytes m = module_with(terminator);
    EXPECT_EQ(build(m, STATUS_OK), summary_line(m));
    EXPECT_EQ(read_file(path), m);

    for (uint8_t type : {0x20, 0x04}) {
        init_state();
        ASSERT_EQ(set_option('S', "5"), STATUS_OK);
        m = module_with(terminator, type);
        EXPECT_EQ(build(m, STATUS_OK), summary_line(m));
        EXPECT_EQ(read_file(path), m);
        EXPECT_EQ(get_be32(image + 40), 0u);
    }
}

TEST_F(BinStamping, RefusalsLeaveTheFile)
{
    struct Row {
        Bytes module;
        const char *serial;
        int32_t expected;
    };
    Bytes cfg = Bytes("_CFG") + Bytes(4, '\0') + hex_bytes("00 00 00 18") + Bytes(24, 'c');
    Bytes low_data = module_with(terminator);
    put_be32(reinterpret_cast<uint8_t *>(low_data.data()) + HDR_DATA_OFFSET, 32);
    Bytes high_data = module_with(terminator);
    put_be32(reinterpret_cast<uint8_t *>(high_data.data()) + HDR_DATA_OFFSET, 53);
    Bytes at_trailer = module_with(terminator);
    put_be32(reinterpret_cast<uint8_t *>(at_trailer.data()) + HDR_DATA_OFFSET, 52);
    const Row rows[] = {
        {module_with(terminator), "+", ERR_ENTRY_MISSING},
        {module_with(Bytes("SNBR") + Bytes(4, '\0') + hex_bytes("00 00 00 02 00 01 00 00")), "5",
         ERR_ENTRY_LENGTH},
        // No room in front of the trailer, or only room that holds data.
        {module_with(terminator + Bytes(12, '\0')), "5", ERR_ENTRY_ROOM},
        {module_with(terminator + cfg), "5", ERR_ENTRY_ROOM},
        // An entry that runs into the trailer.
        {module_with(Bytes("SNBR") + Bytes(4, '\0') + hex_bytes("00 00 00 04")), "5",
         ERR_ENTRY_ROOM},
        // The data offset inside the header, or beyond the trailer's start.
        {low_data, "5", ERR_ENTRY_ROOM},
        {high_data, "5", ERR_ENTRY_ROOM},
        {at_trailer, "5", ERR_ENTRY_ROOM},
    };
    for (const Row &row : rows) {
        init_state();
        ASSERT_EQ(set_option('S', row.serial), STATUS_OK);
        EXPECT_EQ(build(row.module, row.expected), summary_line(row.module)) << row.module.size();
        EXPECT_EQ(read_file(path), row.module);
        EXPECT_EQ(serial_number, std::string(row.serial) == "+" ? 0 : 5);
    }
}

TEST_F(BinStamping, BrokenModulesAndUpgrade)
{
    // A module that fails the format check is not stamped; the check says why.
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    Bytes m = module_with(terminator + Bytes(16, '\0'));
    m[4] = 0;
    EXPECT_EQ(build(m, 0x8C02),
              summary_line(m) + "Module format problem 8C02 00000048 FFFFFFFF\n");
    EXPECT_EQ(read_file(path), m);

    // -u and stamping are not combined: the image may hold the old layout.
    init_state();
    options = OPT_UPGRADE;
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    m = module_with(terminator + Bytes(16, '\0'));
    EXPECT_EQ(build(m, ERR_ENTRY_ROOM),
              "Serial number and upgrade cannot be combined\n" + summary_line(m));
    EXPECT_EQ(read_file(path), m);
    // Without the type bits there is nothing to stamp and the upgrade runs.
    init_state();
    options = OPT_UPGRADE;
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    m = module_with(terminator + Bytes(16, '\0'), 0x20);
    EXPECT_EQ(build(m, 0x8C20).substr(summary_line(m).size()),
              "Module format problem 8C20 00000048 FFFFFFFF\n");
}

TEST_F(BinStamping, RewriteFailureKeepsTheFile)
{
    // A name so long that its temporary file's name is too long.
    path = dir.file(std::string(245, 'm') + ".bin");
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    Bytes m = module_with(snbr("00 00 00 01") + terminator);
    EXPECT_EQ(build(m, ENAMETOOLONG), "          CRC 0000 Size 0 Type 00 Version 0000\n");
    EXPECT_EQ(read_file(path), m);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}
