// Writing the module as Intel HEX, and reading it back.
#include "records/hex_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

class HexWriter : public StateTest {
protected:
    // The Intel HEX file of module, written by write_hex_file.
    std::string written(const Bytes &module)
    {
        Bytes m = module;
        EXPECT_EQ(write_hex_file(dir.file("out.thx").c_str(), reinterpret_cast<uint8_t *>(m.data()),
                                 uint32_t(m.size())),
                  STATUS_OK);
        commit_test_files();
        return read_file(dir.file("out.hex"));
    }
};

}  // namespace

TEST_F(HexWriter, RecordsOf32BytesBetweenALinearBaseAndTheEnd)
{
    Bytes module = test_module(100);
    link_address = 0x8000;
    // 100 bytes: three records of 32 and one of 4, upper case, line feeds.
    EXPECT_EQ(written(module), ihex_file(module, 0x8000, 32));
    EXPECT_EQ(ihex_file(module, 0x8000, 32).substr(0, 16), ":020000040000FA\n");
}

TEST_F(HexWriter, ANewLinearBaseWhereTheUpperBitsChange)
{
    // The module crosses 0x20000: the record before it ends at the boundary.
    Bytes module = test_module(200);
    link_address = 0x1FFF0;
    std::string text = written(module);
    std::string expected = ihex_linear_base(0x10000) + "\n" +
                           ihex_record(0, 0xFFF0, module.substr(0, 16)) + "\n" +
                           ihex_linear_base(0x20000) + "\n";
    for (size_t at = 16; at < 200; at += 32)
        expected += ihex_record(0, uint16_t(at - 16), module.substr(at, 32)) + "\n";
    expected += IHEX_END + "\n";
    EXPECT_EQ(text, expected);
}

TEST_F(HexWriter, ItLoadsBackAsTheModule)
{
    Bytes module = test_module(3000);
    for (uint32_t link : {0u, 0x8000u, 0xFFFF0u, 0x40000000u}) {
        link_address = link;
        write_file(dir.file("in.hex"), written(module));
        std::vector<uint8_t> image(module.size() + 32, 0xFF);
        ASSERT_EQ(load_hex_records(&found, dir.file("in.hex").c_str(), image.data(), uint32_t(module.size()),
                                   uint32_t(image.size())),
                  STATUS_OK);
        EXPECT_EQ(Bytes(image.begin(), image.begin() + module.size()), module) << link;
        EXPECT_EQ(link_record, 1) << link;
    }
}

TEST_F(HexWriter, AModuleBeyondItsBlockOrAFullDiskIsNoFile)
{
    Bytes module = test_module(48);
    module[10] = 0x10;  // size 0x1030, beyond the 48 bytes given
    write_file(dir.file("out.hex"), "old");
    EXPECT_EQ(write_hex_file(dir.file("out.thx").c_str(), reinterpret_cast<uint8_t *>(module.data()),
                             uint32_t(module.size())),
              ERR_WRITE_SHORT);
    EXPECT_EQ(read_file(dir.file("out.hex")), "old");

    Bytes big = test_module(20000);
    std::string out = dir.file("out.hex");
    LimitedCall full = call_with_file_size_limit(100, [&] {
        return write_hex_file(out.c_str(), reinterpret_cast<uint8_t *>(big.data()), uint32_t(big.size()));
    });
    EXPECT_EQ(full.status, ERR_WRITE_SHORT);
    EXPECT_EQ(read_file(out), "old");
}
