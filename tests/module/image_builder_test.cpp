// Image sizing, the bin loader and command 2's messages.
#include "module/image_builder.h"
#include "records/record_loader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "byte_order.h"
#include "module_layout.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

class ImageBuilder : public ::testing::Test {
protected:
    void SetUp() override { init_state(); }
    void TearDown() override { init_state(); }

    // Runs build_image on a file of the given content; returns the output.
    std::string build(const Bytes &content, int32_t expected, const char *ext = "bin")
    {
        path = dir.file(std::string("modu.") + ext);
        write_file(path, content);
        input_path = path.data();
        StdoutCapture out;
        EXPECT_EQ(build_image(load_records), expected);
        return out.stop();
    }

    TempDir dir;
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
    EXPECT_EQ(get_be16(image), 0xF7C2);
    EXPECT_EQ(image[44], 0xFF);  // the rest stays erased

    init_state();
    options = OPT_IN_BIN;
    Bytes wrong = small_module();
    wrong[0] = 0x12;
    wrong[1] = 0x34;
    EXPECT_EQ(build(wrong, STATUS_OK),
              " DATADATA CRC F7C2 Size 44 Type 00 Version 0000\n"
              "Crc difference - Original 1234 - Calculated f7c2\n");
    EXPECT_EQ(get_be16(image), 0xF7C2);

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
    EXPECT_EQ(image[0], 0x12);

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
    EXPECT_EQ(build_image(load_records), ENOENT);
    EXPECT_EQ(out.stop(), "Unable to open input file " + missing + "\n");
    EXPECT_EQ(image, nullptr);

}
