// Module CRC coverage, the format check and the summary.
#include "module/module_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "fixtures.h"
#include "module_layout.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

constexpr uint32_t BLOCK = 1056;

// The 44-byte module in an image block preset to 0xFF.
std::vector<uint8_t> image_of(const Bytes &module)
{
    std::vector<uint8_t> img(BLOCK, 0xFF);
    std::memcpy(img.data(), module.data(), module.size());
    return img;
}

}  // namespace

class ModuleFormat : public StateTest {};

TEST_F(ModuleFormat, CoveredRange)
{
    auto img = image_of(small_module());
    EXPECT_EQ(module_crc(img.data(), BLOCK), 0xF7C2);
    img[HDR_CRC] = 0x12;        // crc and header_mark are not covered
    img[HDR_MARK + 1] = 0x00;
    EXPECT_EQ(module_crc(img.data(), BLOCK), 0xF7C2);

    img[HDR_TYPE] = TYPE_CRC_HEADER_ONLY;
    EXPECT_EQ(module_crc(img.data(), BLOCK), 0x3CF2);
    img[36] = 'B';              // name and trailer no longer covered
    img[43] = 0;
    EXPECT_EQ(module_crc(img.data(), BLOCK), 0x3CF2);
}

TEST_F(ModuleFormat, CrcNeverReadsOutsideTheBlock)
{
    auto img = image_of(small_module());
    put_be32(img.data() + HDR_SIZE, 0xFFFFFFF0);
    std::vector<uint8_t> exact(img.begin(), img.begin() + 64);  // ASan guards the end
    uint16_t crc = module_crc(exact.data(), 64);
    EXPECT_EQ(crc, module_crc(exact.data(), 64));
    put_be32(exact.data() + HDR_SIZE, 3);
    EXPECT_EQ(module_crc(exact.data(), 64), 0);
    EXPECT_EQ(check_module(exact.data(), 64), 0x8C2C);
}

TEST_F(ModuleFormat, CheckRules)
{
    auto valid = image_of(small_module());
    EXPECT_EQ(check_module(valid.data(), BLOCK), 0);

    struct Case {
        uint32_t size;
        const char *what;
        int32_t expected;
    };
    // name_offset 36, trailer moved to size - 4 where it fits.
    for (Case c : {Case{40, "trailer at 36", 0}, Case{36, "below 40, name outside", 0x8C28},
                   Case{38, "unaligned and small", 0x8C0C}, Case{42, "unaligned", 0x8C04},
                   Case{2000, "beyond the block", 0x8C08}}) {
        auto img = image_of(small_module());
        put_be32(img.data() + HDR_SIZE, c.size);
        if (c.size == 40)
            std::memcpy(img.data() + 36, module_trailer, 4);
        EXPECT_EQ(check_module(img.data(), BLOCK), c.expected) << c.what;
    }

    auto no_trailer = image_of(small_module());
    no_trailer[41] = 0;
    EXPECT_EQ(check_module(no_trailer.data(), BLOCK), 0x8C40);
    no_trailer[HDR_MAGIC] = 0x86;  // header failures hide the trailer test
    EXPECT_EQ(check_module(no_trailer.data(), BLOCK), 0x8C02);

    auto far_name = image_of(small_module());
    put_be32(far_name.data() + HDR_NAME_OFFSET, 44);
    EXPECT_EQ(check_module(far_name.data(), BLOCK), 0x8C20);
    put_be16(far_name.data() + HDR_MARK, MARK_OTHER_KIND);
    EXPECT_EQ(check_module(far_name.data(), BLOCK), 0);
}

TEST_F(ModuleFormat, SummaryKeepsNumberAndName)
{
    auto img = image_of(small_module());
    img[HDR_TYPE] = 0x24;
    img[HDR_VERSION] = 1;
    img[HDR_VERSION + 1] = 2;
    summary.number = 33;
    std::strcpy(summary.name, "kept");
    fill_summary(img.data(), BLOCK);
    EXPECT_EQ(std::memcmp(summary.tag, "DATADATA", 8), 0);
    EXPECT_EQ(get_be16(summary.version), 0x0102);
    EXPECT_EQ(get_be32(summary.size), 44u);
    EXPECT_EQ(summary.type, 0x24);
    EXPECT_EQ(get_be16(summary.crc), module_crc(img.data(), BLOCK));
    EXPECT_EQ(summary.number, 33);
    EXPECT_STREQ(summary.name, "kept");
}
