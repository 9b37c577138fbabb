// Many runs of the tool started at once on the same files, as under make -j
// and on stations that stamp serial numbers: runs on the same files take
// turns, so no update is lost and no serial number is handed out twice,
// while runs on other modules go on without waiting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "builders.h"
#include "test_support.h"

namespace {

constexpr int RUNS = 8;

// Starts every argument list at the same moment and waits for all of them.
std::vector<RunResult> run_together(const std::string &dir,
                                    const std::vector<std::vector<std::string>> &arg_lists)
{
    Gate gate;
    StartOptions how;
    how.gate = &gate;
    std::vector<Started> started;
    for (const auto &args : arg_lists)
        started.push_back(start_tarvel(dir, args, how));
    gate.open();
    std::vector<RunResult> results;
    for (const auto &run : started)
        results.push_back(finish_tarvel(run));
    return results;
}

std::vector<std::vector<std::string>> times(int n, const std::vector<std::string> &args)
{
    return std::vector<std::vector<std::string>>(size_t(n), args);
}

// The number command 3 prints: " serial number <n>".
long printed_serial(const std::string &out)
{
    const std::string mark = " serial number ";
    size_t at = out.find(mark);
    return at == std::string::npos ? -1 : std::strtol(out.c_str() + at + mark.size(), nullptr, 10);
}

std::set<std::string> names_in(const TempDir &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

// Checks that every run succeeded and each printed another serial number,
// from first + 1 on.
void expect_serials_handed_out_once(const std::vector<RunResult> &results, long first)
{
    std::set<long> printed, expected;
    for (const auto &r : results) {
        EXPECT_EQ(r.exit_code, 0) << r.out;
        printed.insert(printed_serial(r.out));
    }
    for (long n = first + 1; n <= first + long(results.size()); n++)
        expected.insert(n);
    EXPECT_EQ(printed, expected);
}

}  // namespace

TEST(ConcurrentRuns, SerialNumbersOfARawFileAreHandedOutOnce)
{
    TempDir dir;
    write_file(dir.file("modu.raw"), snbr(1) + terminator + Bytes(64, '\x5A'));
    write_file(dir.file("inf"), "name=serial\ntype=0x24\n");
    auto results = run_together(dir.path(),
                                times(RUNS, {"-m=modu", "-i=raw", "-f=inf", "-s=+", "-o=bin"}));
    expect_serials_handed_out_once(results, 1);
    EXPECT_EQ(read_file(dir.file("modu.raw")).substr(0, 16), snbr(1 + RUNS));
    // The last run wrote the bin output last.
    EXPECT_EQ(read_file(dir.file("modu.bin")).substr(44, 16), snbr(1 + RUNS));
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"inf", "modu.bin", "modu.raw"}));
}

TEST(ConcurrentRuns, SerialNumbersOfAModuleFileAreHandedOutOnce)
{
    TempDir dir;
    write_file(dir.file("modu.bin"), bin_module(snbr(100) + terminator + Bytes(16, '\0')));
    auto results = run_together(dir.path(), times(RUNS, {"-m=modu", "-i=bin", "-s=+"}));
    expect_serials_handed_out_once(results, 100);
    Bytes module = read_file(dir.file("modu.bin"));
    EXPECT_EQ(module.substr(40, 16), snbr(100 + RUNS));
    // Its stored CRC is the CRC of what it holds.
    RunResult check = run_tarvel(dir.path(), {"-m=modu", "-i=bin", "-o=bin"});
    EXPECT_EQ(check.exit_code, 0);
    EXPECT_EQ(check.out.find("Crc difference"), std::string::npos) << check.out;
    EXPECT_EQ(read_file(dir.file("modu.bin")), module);
}

TEST(ConcurrentRuns, MainJobsOnOneRecordFileLeaveBothFilesWhole)
{
    const Bytes original = read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs");
    TempDir alone;
    write_file(alone.file("modu.abs"), original);
    RunResult clean = run_tarvel(alone.path(), {"-m=modu", "-l=8000", "-o=bin"});
    ASSERT_EQ(clean.exit_code, 0);
    const Bytes patched = read_file(alone.file("modu.abs"));
    ASSERT_NE(patched, original);

    TempDir dir;
    write_file(dir.file("modu.abs"), original);
    auto results = run_together(dir.path(), times(RUNS, {"-m=modu", "-l=8000", "-o=bin"}));
    for (const auto &r : results) {
        EXPECT_EQ(r.exit_code, 0) << r.out;
        EXPECT_EQ(r.out, clean.out);
    }
    // Every run after the first patched a file whose CRC was set already.
    EXPECT_EQ(read_file(dir.file("modu.abs")), patched);
    EXPECT_EQ(read_file(dir.file("modu.bak")), patched);
    EXPECT_EQ(read_file(dir.file("modu.bin")), read_file(alone.file("modu.bin")));
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"modu.abs", "modu.bak", "modu.bin"}));
}

TEST(ConcurrentRuns, RawModulesInOneDirectoryKeepTheirOwnConfigurationRecords)
{
    // Every run collects its CFG record in the one generic.tmp of the
    // directory and copies it into its module.
    TempDir dir;
    std::vector<std::vector<std::string>> arg_lists;
    for (int i = 0; i < RUNS; i++) {
        std::string n = std::to_string(i);
        write_file(dir.file("m" + n + ".raw"), "RAWDATA" + n);
        write_file(dir.file("i" + n), "name=m" + n + "\nCFG=RUN" + n + " X " + n + "\n");
        arg_lists.push_back({"-m=m" + n, "-i=raw", "-f=i" + n, "-o=bin"});
    }
    auto results = run_together(dir.path(), arg_lists);
    for (int i = 0; i < RUNS; i++) {
        EXPECT_EQ(results[size_t(i)].exit_code, 0) << results[size_t(i)].out;
        std::string n = std::to_string(i);
        Bytes cfg = Bytes("_CFG") + Bytes(4, '\0') + be32(24) + "RUN" + n + Bytes(4, '\0') + "X" +
                    Bytes(7, '\0') + be32(uint32_t(i));
        Bytes module = read_file(dir.file("m" + n + ".bin"));
        // Header, name "m<n>" with its fill, 8 data bytes, the record, trailer.
        ASSERT_EQ(module.size(), 36u + 4 + 8 + 32 + 4) << n;
        EXPECT_EQ(module.substr(48, 32), cfg) << n;
    }
    EXPECT_EQ(read_file(dir.file("generic.tmp")).size(), 32u);
}

TEST(ConcurrentRuns, RunsOnOtherModulesDoNotWait)
{
    const Bytes original = read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs");
    TempDir dir;
    write_file(dir.file("a.abs"), original);
    write_file(dir.file("b.abs"), original);

    // Something holds the lock of a.abs, as another run would.
    int holder = open(dir.file("a.abs").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    Started a = start_tarvel(dir.path(), {"-m=a", "-l=8000"});
    // a.srec shares a.new and a.bak with a.abs: its run waits as well.
    write_file(dir.file("a.srec"), original);
    Started srec = start_tarvel(dir.path(), {"-m=a", "-i=srec", "-l=8000"});

    // The run on b goes through while the runs on a wait.
    RunResult b = run_tarvel(dir.path(), {"-m=b", "-l=8000"});
    EXPECT_EQ(b.exit_code, 0) << b.out;
    EXPECT_NE(read_file(dir.file("b.abs")), original);
    EXPECT_FALSE(has_exited(a));
    EXPECT_FALSE(has_exited(srec));
    EXPECT_EQ(read_file(dir.file("a.abs")), original);
    EXPECT_EQ(read_file(dir.file("a.srec")), original);

    close(holder);
    RunResult done = finish_tarvel(a);
    EXPECT_EQ(done.exit_code, 0) << done.out;
    EXPECT_EQ(finish_tarvel(srec).exit_code, 0);
    EXPECT_EQ(read_file(dir.file("a.srec")), read_file(dir.file("b.abs")));
    EXPECT_EQ(read_file(dir.file("a.abs")), read_file(dir.file("b.abs")));
}
