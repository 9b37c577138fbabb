// The thd record and the thd and bin files.
#include "module/thd_bin.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "byte_order.h"
#include "fixtures.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> test_image(uint32_t size, uint32_t block)
{
    std::vector<uint8_t> img(block, 0xFF);
    std::memcpy(img.data(), fresh_header, HEADER_SIZE);
    put_be32(img.data() + HDR_SIZE, size);
    for (uint32_t i = HEADER_SIZE; i < size - 4; i++)
        img[i] = uint8_t(i * 3);
    std::memcpy(img.data() + size - 4, module_trailer, 4);
    return img;
}

}  // namespace

class ThdBin : public StateTest {};

TEST_F(ThdBin, ThdRecordFromTheHeader)
{
    auto img = test_image(1000, 1056);
    img[HDR_TYPE] = 0x24;
    img[0] = 0x3D;
    img[1] = 0xBB;
    uint8_t rec[THD_RECORD_SIZE];
    make_thd(rec, img.data(), 1056);
    Bytes expected = std::string("DATADATA") + hex_bytes("00 00 3D BB 00 00 03 E8 24 00 00 00");
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(rec), 20), expected);

    // Another kind of module (header_mark FF FF) takes three values elsewhere.
    put_be16(img.data() + HDR_MARK, 0xFFFF);
    put_be32(img.data() + HDR_NAME_OFFSET, 0x11223344);
    img[64] = 0xAA; img[65] = 0xBB; img[70] = 0xCC;
    img[36] = 0x55; img[37] = 0x66; img[42] = 0x77;
    img[HDR_TYPE] = 0x04;
    make_thd(rec, img.data(), 1056);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(rec), 20),
              std::string("DATADA") + hex_bytes("AA BB 11 22 33 44 CC 00 00 00 00 00 00 00"));
    img[HDR_TYPE] = 0x20;
    make_thd(rec, img.data(), 1056);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(rec), 20),
              std::string("DATADA") + hex_bytes("55 66 11 22 33 44 77 00 00 00 00 00 00 00"));
}

TEST_F(ThdBin, FilesTakeTheirOwnExtension)
{
    auto img = test_image(2500, 2528);
    std::string out = dir.file("modu.thx");
    ASSERT_EQ(write_thd_file(out.c_str(), img.data(), 2528), STATUS_OK);
    ASSERT_EQ(write_bin_file(out.c_str(), img.data(), 2528), STATUS_OK);
    commit_test_files();
    EXPECT_EQ(read_file(dir.file("modu.thd")).size(), 20u);
    EXPECT_EQ(read_file(dir.file("modu.bin")), Bytes(reinterpret_cast<char *>(img.data()), 2500));
    EXPECT_FALSE(file_exists(dir.file("modu.thx")));
    EXPECT_EQ(files_in(dir.path()).size(), 2u);  // thd and bin, no temporary file
}

TEST_F(ThdBin, FailuresLeaveTheOldFile)
{
    auto img = test_image(44, 1056);
    std::string missing_dir = dir.file("none/modu.thx");
    EXPECT_EQ(write_thd_file(missing_dir.c_str(), img.data(), 1056), ENOENT);
    EXPECT_EQ(write_bin_file(missing_dir.c_str(), img.data(), 1056), ENOENT);

    // A size beyond the block is never written out.
    write_file(dir.file("modu.bin"), "old");
    put_be32(img.data() + HDR_SIZE, 5000);
    std::string out = dir.file("modu.thx");
    EXPECT_EQ(write_bin_file(out.c_str(), img.data(), 1056), ERR_WRITE_SHORT);
    EXPECT_EQ(read_file(dir.file("modu.bin")), "old");

    // A read-only target is refused as opening it for writing would be.
    if (geteuid() != 0) {
        chmod(dir.file("modu.bin").c_str(), 0444);
        put_be32(img.data() + HDR_SIZE, 44);
        EXPECT_EQ(write_bin_file(out.c_str(), img.data(), 1056), EACCES);
    }
}
