// Conversion of old-layout modules, alone and inside the module check.
#include "module/upgrade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "builders.h"
#include "byte_order.h"
#include "driver/info_file.h"
#include "fixtures.h"
#include "module/image_builder.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

// An old module of size bytes: mark, magic, size, name offset 28, trailer.
Bytes old_of_size(uint32_t size, uint16_t mark = 0x7FFF)
{
    Bytes m(size < 28 ? 28 : size, '\0');
    auto *p = reinterpret_cast<uint8_t *>(m.data());
    put_be16(p + OLD_HDR_MARK, mark);
    put_be32(p + OLD_HDR_MAGIC, MODULE_MAGIC);
    put_be32(p + OLD_HDR_SIZE, size);
    put_be32(p + OLD_HDR_NAME_OFFSET, 28);
    if (size >= 32)
        m.replace(size - 4, 4, hex_bytes("5A 69 0F F0"));
    return m;
}

}  // namespace

// The image is a block of the given length, preset to FF, holding a module.
class Upgrade : public StateTest {
protected:
    void load(const Bytes &module, size_t block = 128)
    {
        buffer.assign(block, char(0xFF));
        std::copy_n(module.begin(), std::min(module.size(), block), buffer.begin());
    }
    uint8_t *img() { return reinterpret_cast<uint8_t *>(buffer.data()); }
    uint32_t block() const { return uint32_t(buffer.size()); }

    Bytes buffer;
};

TEST_F(Upgrade, ConvertsByteForByte)
{
    load(old_module);
    ASSERT_EQ(upgrade_module(img(), block()), STATUS_OK);
    EXPECT_EQ(buffer.substr(0, 48), upgraded_module);
    EXPECT_EQ(buffer.substr(48), Bytes(80, char(0xFF)));
    EXPECT_EQ(get_be16(summary.crc), 0xCB10);
    EXPECT_EQ(get_be32(summary.size), 48u);
    EXPECT_EQ(check_module(img(), block()), STATUS_OK);
}

TEST_F(Upgrade, MovesFieldsAndData)
{
    Bytes m = old_of_size(100);
    auto *p = reinterpret_cast<uint8_t *>(m.data());
    put_be32(p + OLD_HDR_DATA_OFFSET, 44);
    p[OLD_HDR_BYTE13] = 0x07;
    put_be16(p + OLD_HDR_VERSION, 0x0102);
    m.replace(OLD_HDR_TAG, 4, "ABCD");
    for (int i = 28; i < 96; i++)
        m[size_t(i)] = char(i);
    load(m);
    ASSERT_EQ(upgrade_module(img(), block()), STATUS_OK);
    EXPECT_EQ(get_be32(img() + HDR_SIZE), 108u);
    EXPECT_EQ(get_be32(img() + HDR_NAME_OFFSET), 36u);
    EXPECT_EQ(get_be32(img() + HDR_DATA_OFFSET), 52u);
    EXPECT_EQ(buffer.substr(12, 16),
              hex_bytes("00 00 00 00 00 07 01 02") + "ABCD" + Bytes(4, '\0'));
    EXPECT_EQ(buffer.substr(36, 72), m.substr(28, 72));
    EXPECT_EQ(get_be16(img()), module_crc(img(), block()));

    // Offsets of 0 stay 0; with the other-kind mark the name offset is not tested.
    m = old_of_size(44, 0xFFFF);
    put_be32(reinterpret_cast<uint8_t *>(m.data()) + OLD_HDR_NAME_OFFSET, 0);
    load(m);
    ASSERT_EQ(upgrade_module(img(), block()), STATUS_OK);
    EXPECT_EQ(get_be32(img() + HDR_NAME_OFFSET), 0u);
    EXPECT_EQ(get_be32(img() + HDR_DATA_OFFSET), 0u);
    m = old_of_size(44, 0xFFFF);
    put_be32(reinterpret_cast<uint8_t *>(m.data()) + OLD_HDR_NAME_OFFSET, 500);
    load(m);
    EXPECT_EQ(upgrade_module(img(), block()), STATUS_OK);

    // With type bit 0x40 the CRC covers the new header only.
    m = old_module;
    m[OLD_HDR_TYPE] = 0x40;
    load(m);
    ASSERT_EQ(upgrade_module(img(), block()), STATUS_OK);
    uint16_t header_only = get_be16(img());
    img()[40] ^= 0xFF;
    EXPECT_EQ(module_crc(img(), block()), header_only);
}

TEST_F(Upgrade, RefusalsLeaveTheImageAlone)
{
    struct Row {
        Bytes module;
        int32_t expected;
    };
    Bytes wrong_magic = old_of_size(38);
    wrong_magic[4] = 0;
    Bytes no_trailer = old_of_size(40);
    no_trailer[39] = 0;
    Bytes magic_and_trailer = no_trailer;
    magic_and_trailer[4] = 0;
    Bytes name_outside = old_of_size(40);
    name_outside[OLD_HDR_NAME_OFFSET + 3] = 40;
    const Row rows[] = {
        {old_of_size(36), 0x8C08},    {old_of_size(38), 0x8C0C}, {old_of_size(42), 0x8C04},
        {wrong_magic, 0x8C0E},        {no_trailer, 0x8C40},      {magic_and_trailer, 0x8C02},
        {name_outside, 0x8C20},
    };
    for (const Row &row : rows) {
        load(row.module);
        Bytes before = buffer;
        EXPECT_EQ(upgrade_module(img(), block()), row.expected) << int(row.module.size());
        EXPECT_EQ(buffer, before);
    }

    // A module that would not fit the block once 8 bytes longer.
    load(old_of_size(44), 51);
    Bytes before = buffer;
    EXPECT_EQ(upgrade_module(img(), block()), 0x8C08);
    EXPECT_EQ(buffer, before);
    load(old_of_size(44), 52);
    EXPECT_EQ(upgrade_module(img(), block()), STATUS_OK);
    load(old_of_size(44), 43);
    EXPECT_EQ(upgrade_module(img(), block()), 0x8C08);

    // A current module under -u: "DATA" read as the old name offset is far
    // beyond its size, so the check fails with bit 0x20.
    options = OPT_UPGRADE;
    load(small_module());
    before = buffer;
    EXPECT_EQ(check_module(img(), block()), 0x8C20);
    EXPECT_EQ(buffer, before);
    // With the other-kind mark it passes the old tests and is converted.
    Bytes other = small_module();
    other[2] = char(0xFF);
    load(other);
    EXPECT_EQ(check_module(img(), block()), STATUS_OK);
    EXPECT_EQ(get_be32(img() + HDR_SIZE), 52u);
}

TEST_F(Upgrade, BuildImageChecksTheConvertedModule)
{
    TempDir dir;
    std::string path = dir.file("old.bin");
    write_file(path, old_module);
    input_path = path.data();
    options = OPT_IN_BIN | OPT_UPGRADE;
    StdoutCapture out;
    BuiltModule built = {};
    RecordLoad found = {};
    ASSERT_EQ(build_test_image(&found, &built), STATUS_OK);
    // The summary line shows the module as loaded; no CRC difference follows.
    EXPECT_EQ(out.stop(), "          CRC E954 Size 40 Type 00 Version 4344\n");
    EXPECT_EQ(built.crc, 0xE954);
    EXPECT_EQ(image_block_size, 1036u / 16 * 16 + 32);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(module_image), 48), upgraded_module);
    EXPECT_EQ(get_be16(summary.crc), 0xCB10);
    EXPECT_EQ(read_file(path), old_module);  // the upgrade writes no file
}
