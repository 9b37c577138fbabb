// Image sizing, the bin loader with its serial-number stamping, and command
// 2's messages.
#include "module/image_builder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "builders.h"
#include "byte_order.h"
#include "driver/info_file.h"
#include "driver/option_parser.h"
#include "fixtures.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

class ImageBuilder : public StateTest {
protected:
    // Runs build_image on a file of the given content; returns the output.
    std::string build(const Bytes &content, int32_t expected, const char *ext = "bin")
    {
        path = dir.file(std::string("modu.") + ext);
        write_file(path, content);
        input_path = path.data();
        StdoutCapture out;
        EXPECT_EQ(build_test_image(&found), expected);
        return out.stop();
    }

    std::string path;
};

TEST_F(ImageBuilder, CapacityRules)
{
    EXPECT_EQ(image_capacity(5000), 2500u);  // record text: half the file
    EXPECT_EQ(image_capacity(100), 1028u);
    options = OPT_IN_BIN;
    EXPECT_EQ(image_capacity(600), 1028u);
    EXPECT_EQ(image_capacity(1024), 1024u);
    EXPECT_EQ(image_capacity(1027), 1027u);
    options = OPT_IN_RAW | OPT_UPGRADE;
    EXPECT_EQ(image_capacity(5000), 5008u);
    options = OPT_IN_R9500;
    EXPECT_EQ(image_capacity(10), 294912u);
    options = OPT_IN_BIN;
    EXPECT_EQ(image_capacity(uint64_t(1) << 40), 0xFFFF0000u);
}

TEST_F(ImageBuilder, BinModuleGetsItsCrc)
{
    options = OPT_IN_BIN | OPT_VERBOSE;
    EXPECT_EQ(build(small_module(), STATUS_OK),
              " Alloc 1028 [00000420] DATADATA CRC F7C2 Size 44 Type 00 Version 0000\n");
    EXPECT_EQ(image_block_size, 1056u);
    EXPECT_EQ(get_be16(module_image), 0xF7C2);
    EXPECT_EQ(module_image[44], 0xFF);  // the rest stays erased

    init_state();
    options = OPT_IN_BIN;
    Bytes wrong = small_module();
    wrong[0] = 0x12;
    wrong[1] = 0x34;
    EXPECT_EQ(build(wrong, STATUS_OK),
              " DATADATA CRC F7C2 Size 44 Type 00 Version 0000\n"
              "Crc difference - Original 1234 - Calculated f7c2\n");
    EXPECT_EQ(get_be16(module_image), 0xF7C2);

    init_state();
    options = OPT_IN_BIN;
    Bytes right = small_module();
    right[0] = char(0xF7);
    right[1] = char(0xC2);
    EXPECT_EQ(build(right, STATUS_OK), " DATADATA CRC F7C2 Size 44 Type 00 Version 0000\n");
}

TEST_F(ImageBuilder, FailedCheckKeepsTheStoredCrc)
{
    options = OPT_IN_BIN;
    Bytes m = small_module();
    m[41] = 0;  // trailer damaged
    m[0] = 0x12;
    EXPECT_EQ(build(m, 0x8C40),
              " DATADATA CRC 27DE Size 44 Type 00 Version 0000\n"
              "Module format problem 8C40 0000002C FFFFFFFF\n");
    EXPECT_EQ(module_image[0], 0x12);

    init_state();
    options = OPT_IN_BIN;
    Bytes huge = small_module();
    put_be32(reinterpret_cast<uint8_t *>(huge.data()) + HDR_SIZE, 0xFFFFFFFF);
    std::string out = build(huge, 0x8C0C);
    EXPECT_NE(out.find("Size -1 "), std::string::npos) << out;
    EXPECT_NE(out.find("Module format problem 8C0C FFFFFFFF FFFFFFFF\n"), std::string::npos);
}

TEST_F(ImageBuilder, LoadBinPiecesAndLimits)
{
    options = OPT_IN_BIN;
    Bytes exact(1024, '\x11');
    write_file(dir.file("exact.bin"), exact);
    std::vector<uint8_t> img(1056, 0xFF);
    EXPECT_EQ(load_bin(dir.file("exact.bin").c_str(), img.data(), 1024, 1056), STATUS_OK);
    EXPECT_EQ(img[1023], 0x11);
    EXPECT_EQ(img[1024], 0xFF);

    Bytes over(1030, '\x22');
    write_file(dir.file("over.bin"), over);
    // The piece that does not fit is not copied; a file left unread is a short read.
    EXPECT_EQ(load_bin(dir.file("over.bin").c_str(), img.data(), 1028, 1056), ERR_IMAGE_FIT);
    EXPECT_EQ(img[1024], 0xFF);
    write_file(dir.file("long.bin"), Bytes(3000, '\x33'));
    EXPECT_EQ(load_bin(dir.file("long.bin").c_str(), img.data(), 1028, 1056), ERR_READ_SHORT);
    EXPECT_EQ(load_bin(dir.file("over.bin").c_str(), img.data(), 67, 1056), ERR_IMAGE_FIT);
    EXPECT_EQ(load_bin(dir.file("missing").c_str(), img.data(), 1028, 1056), ENOENT);
}

TEST_F(ImageBuilder, FailuresBeforeTheLoad)
{
    options = OPT_IN_BIN;
    std::string missing = dir.file("missing.bin");
    input_path = missing.data();
    StdoutCapture out;
    EXPECT_EQ(build_test_image(&found), ENOENT);
    EXPECT_EQ(out.stop(), "Unable to open input file " + missing + "\n");
    EXPECT_EQ(module_image, nullptr);

}

namespace {

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

// Serial number stamping of module files loaded as "bin".
class BinStamping : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        path = dir.file("modu.bin");
    }

    // Runs command 2 on modu.bin holding content; returns the output.
    std::string build(const Bytes &content, int32_t expected)
    {
        write_file(path, content);
        input_path = path.data();
        options |= OPT_IN_BIN;
        StdoutCapture out;
        int32_t status = build_test_image(&found);
        EXPECT_EQ(status, expected);
        end_test_run(status);
        return out.stop();
    }

    std::string path;
};

TEST_F(BinStamping, SetAndIncrementRewriteTheFile)
{
    Bytes rest = Bytes("_CFG") + Bytes(4, '\0') + hex_bytes("00 00 00 04") + "cfg!";
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    Bytes stamped = with_crc(module_with(snbr(0x00000005) + terminator + rest));
    EXPECT_EQ(build(module_with(snbr(0x00000001) + terminator + rest), STATUS_OK),
              summary_line(stamped));  // and no CRC difference line
    EXPECT_EQ(read_file(path), stamped);
    EXPECT_EQ(serial_number, 5);

    init_state();
    ASSERT_EQ(set_option('S', "+"), STATUS_OK);
    ASSERT_EQ(set_option('X', "TYPE"), STATUS_OK);
    Bytes typ = Bytes("_TYP") + Bytes(4, '\0') + hex_bytes("00 00 00 0C") + "TYPE" + Bytes(8, '\0');
    Bytes old_typ = Bytes("_TYP") + Bytes(4, '\0') + hex_bytes("00 00 00 0C") + Bytes(12, 'o');
    stamped = with_crc(module_with(typ + snbr(0x00000006) + terminator));
    EXPECT_EQ(build(with_crc(module_with(old_typ + snbr(0x00000005) + terminator)), STATUS_OK),
              summary_line(stamped));
    EXPECT_EQ(read_file(path), stamped);
    EXPECT_EQ(serial_number, 6);

    // Unused bytes in front of the trailer take an appended entry; the size
    // stays.
    init_state();
    ASSERT_EQ(set_option('S', "7"), STATUS_OK);
    stamped = with_crc(module_with(snbr(0x00000007) + terminator + Bytes(4, char(0xFF))));
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
        EXPECT_EQ(get_be32(module_image + 40), 0u);
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
    // The disk is full: the stamped module cannot be written.
    ASSERT_EQ(set_option('S', "5"), STATUS_OK);
    Bytes m = module_with(snbr(0x00000001) + terminator);
    write_file(path, m);
    input_path = path.data();
    options |= OPT_IN_BIN;
    LimitedCall full =
        call_with_file_size_limit(8, [this] { return build_test_image(&found); });
    EXPECT_EQ(full.status, ERR_WRITE_SHORT);
    EXPECT_EQ(read_file(path), m);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}
