// The CPU feature groups against the flags the operating system reports.
#include "platform/cpu_features.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

// The "flags" line of the first processor in /proc/cpuinfo; empty where
// the file does not exist.
std::set<std::string> cpuinfo_flags()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string w; words >> w;)
            flags.insert(w);
        return flags;
    }
    return {};
}

}  // namespace

// Linux leaves the AVX flags out when it does not save their registers, as
// the detection must.
TEST(CpuFeatures, GroupsMatchTheFlagsTheSystemReports)
{
    if (!CPU_X86_DISPATCH) {
        EXPECT_EQ(cpu_features(), 0u);
        return;
    }
    std::set<std::string> flags = cpuinfo_flags();
    if (flags.empty())
        GTEST_SKIP() << "no /proc/cpuinfo";
    auto has = [&](const char *f) { return flags.count(f) > 0; };
    bool pclmul = has("pclmulqdq") && has("sse4_1");
    unsigned f = cpu_features();
    EXPECT_EQ((f & CPU_PCLMUL) != 0, pclmul);
    EXPECT_EQ((f & CPU_VPCLMUL_256) != 0, pclmul && has("vpclmulqdq") && has("avx2"));
    EXPECT_EQ((f & CPU_VPCLMUL_512) != 0, pclmul && has("vpclmulqdq") && has("avx512f"));
    EXPECT_EQ((f & CPU_SSSE3) != 0, has("ssse3"));
    EXPECT_EQ((f & CPU_AVX2) != 0, has("avx2"));
    EXPECT_EQ(cpu_features(), f);  // asked once, the same answer after
}
