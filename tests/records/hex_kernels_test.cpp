// Every hex kernel the machine offers against the table: every character in
// both nibble positions, every length up to a few steps of the widest
// kernel at every start offset, and the in-place conversion the decoder does.
#include "records/hex_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// The value the record routines give a character.
uint8_t value_of(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F')
        return uint8_t(c - 'A' + 10);
    return 0;
}

class HexKernelTest : public ::testing::TestWithParam<HexKernel> {
protected:
    void SetUp() override
    {
        if (!cpu_runs(GetParam().needs))
            GTEST_SKIP() << GetParam().name << " is not available on this machine";
    }
};

std::string kernel_name(const ::testing::TestParamInfo<HexKernel> &info) { return info.param.name; }

}  // namespace

TEST_P(HexKernelTest, EveryCharacterInEveryPosition)
{
    // All 256 x 256 pairs: the high nibble from the first, the low from the second.
    std::vector<uint8_t> text;
    for (unsigned hi = 0; hi < 256; hi++)
        for (unsigned lo = 0; lo < 256; lo++) {
            text.push_back(uint8_t(hi));
            text.push_back(uint8_t(lo));
        }
    std::vector<uint8_t> out(text.size() / 2, 0xEE);
    GetParam().run(text.data(), out.data(), out.size());
    for (size_t k = 0; k < out.size(); k++)
        ASSERT_EQ(out[k], uint8_t(value_of(text[2 * k]) << 4 | value_of(text[2 * k + 1])))
            << "characters " << int(text[2 * k]) << " " << int(text[2 * k + 1]);
}

TEST_P(HexKernelTest, EveryLengthAndOffsetStaysInItsBytes)
{
    const char digits[] = "0123456789ABCDEFabcdefGZ \r";
    std::vector<uint8_t> text(2 * 200 + 64);
    for (size_t i = 0; i < text.size(); i++)
        text[i] = uint8_t(digits[(i * 7 + i / 13) % (sizeof digits - 1)]);
    for (size_t offset = 0; offset < 32; offset++) {
        for (size_t bytes = 0; bytes <= 200; bytes++) {
            std::vector<uint8_t> expected(bytes + 2, 0xEE), out(bytes + 2, 0xEE);
            hex_decode_table(text.data() + offset, expected.data() + 1, bytes);
            GetParam().run(text.data() + offset, out.data() + 1, bytes);
            ASSERT_EQ(out, expected) << "offset " << offset << ", " << bytes << " bytes";
        }
    }
}

TEST_P(HexKernelTest, InPlaceAsTheDecoderDoesIt)
{
    // The decoder writes byte k at position 3 + k of the line while its
    // characters lie at 4 + 2k and 5 + 2k.
    for (size_t bytes = 0; bytes <= 255; bytes++) {
        std::vector<uint8_t> line(4 + 2 * bytes);
        for (size_t i = 0; i < line.size(); i++)
            line[i] = uint8_t("0123456789ABCDEF"[(i * 5 + 3) % 16]);
        std::vector<uint8_t> expected = line;
        hex_decode_table(expected.data() + 4, expected.data() + 3, bytes);
        GetParam().run(line.data() + 4, line.data() + 3, bytes);
        ASSERT_EQ(line, expected) << bytes;
    }
}

INSTANTIATE_TEST_SUITE_P(HexKernels, HexKernelTest, ::testing::ValuesIn(hex_kernels()), kernel_name);
