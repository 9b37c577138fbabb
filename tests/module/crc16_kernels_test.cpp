// Every CRC kernel the machine can run, against the bit-by-bit definition.
#include "module/crc16_kernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

namespace {

uint16_t bitwise_step(uint16_t reg, uint8_t byte)
{
    unsigned r = reg ^ byte;
    for (int i = 0; i < 8; i++)
        r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    return uint16_t(r);
}

uint16_t bitwise_register(uint16_t reg, const uint8_t *p, size_t n)
{
    while (n--)
        reg = bitwise_step(reg, *p++);
    return reg;
}

std::vector<uint8_t> noise(size_t n)
{
    std::vector<uint8_t> v(n);
    uint32_t s = 0x9E3779B9;
    for (auto &b : v) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = uint8_t(s >> 24);
    }
    return v;
}

class CrcKernelTest : public ::testing::TestWithParam<CrcKernel> {
protected:
    void SetUp() override
    {
        if (!cpu_runs(GetParam().needs))
            GTEST_SKIP() << GetParam().name << " needs instructions this machine lacks";
    }
    crc_kernel run = GetParam().run;
};

}  // namespace

// Failure messages name the kernel.
void PrintTo(const CrcKernel &kernel, std::ostream *os) { *os << kernel.name; }

TEST_P(CrcKernelTest, CheckValue)
{
    const char *digits = "123456789";
    EXPECT_EQ(run(0, reinterpret_cast<const uint8_t *>(digits), 9), 0xBB3D);
}

// Lengths decide which loops run and what is left for the tail, and the
// start alignment which loads cross a cache line, so every length up to
// 4096 (the widest loop, 256 bytes a round, up to fifteen times with every
// remainder) is run from every alignment to a 64-byte boundary.
TEST_P(CrcKernelTest, EveryLengthAndAlignmentMatchesTheDefinition)
{
    std::vector<uint8_t> data = noise(4096 + 2 * 64);
    const uint8_t *base = data.data() + (64 - reinterpret_cast<uintptr_t>(data.data()) % 64) % 64;
    // The table path reads byte by byte, where alignment changes nothing;
    // a few alignments keep it quick under the sanitizers.
    size_t alignments = GetParam().needs == 0 ? 4 : 64;
    for (size_t align = 0; align < alignments; align++) {
        const uint8_t *p = base + align;
        size_t longest = 4096;
        uint16_t start = uint16_t(align * 0x1D0F);  // 0 for the first sweep
        uint16_t expected = start;
        for (size_t len = 0; len <= longest; len++) {
            ASSERT_EQ(run(start, p, len), expected) << "alignment " << align << " length " << len;
            expected = bitwise_step(expected, p[len]);
        }
    }
}

// A kernel's result depends on the starting register through an XOR with
// a linear function of it, so 0 and the sixteen single bits pin down all
// 65536 starting values.
TEST_P(CrcKernelTest, EveryStartingRegister)
{
    std::vector<uint8_t> data = noise(5000);
    for (size_t len : {1, 2, 15, 16, 17, 63, 64, 65, 127, 128, 129, 255, 256, 257, 1000, 4999}) {
        for (int bit = -1; bit < 16; bit++) {
            uint16_t start = bit < 0 ? 0 : uint16_t(1u << bit);
            ASSERT_EQ(run(start, data.data(), len), bitwise_register(start, data.data(), len))
                << "length " << len << " start " << start;
        }
    }
}

// Running values carried from call to call: the first call ends, and the
// second starts, at every position of the buffer.
TEST_P(CrcKernelTest, RunningValueAcrossSplits)
{
    std::vector<uint8_t> data = noise(2100);
    const uint8_t *p = data.data();
    size_t n = data.size();
    uint16_t whole = bitwise_register(0x4C1B, p, n);
    for (size_t split = 0; split <= n; split++)
        ASSERT_EQ(run(run(0x4C1B, p, split), p + split, n - split), whole) << "split " << split;
}

// Each buffer is a heap block of exactly its length, so that the sanitizer
// build sees any load before or after the bytes a kernel was given.
TEST_P(CrcKernelTest, ReadsOnlyTheBytesGiven)
{
    std::vector<uint8_t> data = noise(1100);
    for (size_t len = 0; len <= data.size(); len++) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[len]);
        std::memcpy(exact.get(), data.data(), len);
        ASSERT_EQ(run(7, exact.get(), len), bitwise_register(7, data.data(), len)) << "length " << len;
    }
}

TEST_P(CrcKernelTest, LongBufferMatchesTheTablePath)
{
    std::vector<uint8_t> data = noise((1 << 20) + 77);
    for (size_t offset : {0, 1, 33}) {
        const uint8_t *p = data.data() + offset;
        size_t n = data.size() - offset;
        EXPECT_EQ(run(0x1234, p, n), crc16_register_table(0x1234, p, n)) << "offset " << offset;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, CrcKernelTest,
                         ::testing::ValuesIn(crc16_kernels().begin(), crc16_kernels().end()),
                         [](const ::testing::TestParamInfo<CrcKernel> &info) { return std::string(info.param.name); });

TEST(CrcKernelChoice, FastestAvailableKernelIsChosen)
{
    auto kernels = crc16_kernels();
    ASSERT_FALSE(kernels.empty());
    EXPECT_STREQ(kernels[0].name, "table");
    EXPECT_EQ(kernels[0].needs, 0u);
    const CrcKernel *fastest = nullptr;
    for (const CrcKernel &k : kernels)
        if (cpu_runs(k.needs))
            fastest = &k;
    EXPECT_EQ(&crc16_chosen_kernel(), fastest);
#if !CRC_CLMUL_KERNELS
    EXPECT_EQ(kernels.size(), 1u);
#endif
}
