// Every file-rewriting job, run once for every file-size limit from 0 to the
// size of its output: a run that does not complete must fail with exit code
// 1 and a message, and leave the user's file exactly as before or exactly as
// a complete run leaves it; a run that completes matches an unlimited run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builders.h"
#include "test_support.h"

namespace {

struct Job {
    const char *name;
    Files inputs;                   // files laid out before each run
    std::vector<std::string> args;
    std::string user_file;          // the file the job rewrites
};

void run_at_every_limit(const Job &job)
{
    TempDir dir;
    lay_out(dir, job.inputs);
    RunResult full = run_tarvel(dir.path(), job.args);
    ASSERT_EQ(full.exit_code, 0) << job.name << "\n" << full.out;
    Files after = files_in(dir.path());
    const Bytes &before = job.inputs.at(job.user_file);
    const Bytes &complete = after.at(job.user_file);

    size_t largest = 0;
    for (const auto &[name, content] : after)
        largest = std::max(largest, content.size());
    size_t step = largest > 4096 ? largest / 512 : 1;

    for (size_t limit = 0; limit <= largest + 1; limit += step) {
        lay_out(dir, job.inputs);
        RunResult r = run_tarvel_limited(dir.path(), job.args, long(limit));
        Bytes now = read_file(dir.file(job.user_file));
        EXPECT_TRUE(now == before || now == complete)
            << job.name << " limit " << limit << ": " << job.user_file << " is "
            << (now == "<missing>" ? "missing" : "damaged") << "\n" << r.out;
        if (r.exit_code == 0) {
            EXPECT_EQ(files_in(dir.path()), after) << job.name << " limit " << limit;
        } else {
            EXPECT_EQ(r.exit_code, 1) << job.name << " limit " << limit;
            EXPECT_NE(r.out.find("Error "), std::string::npos)
                << job.name << " limit " << limit << "\n" << r.out;
        }
    }
}

}  // namespace

TEST(WriteFaults, BinModuleRewrittenWithItsCrc)
{
    Bytes module = read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin");
    run_at_every_limit({"bin to bin", {{"modu.bin", module}},
                        {"-m=modu", "-i=bin", "-o=bin", "-d"}, "modu.bin"});
}

TEST(WriteFaults, CrcPatchedIntoAnSRecordFile)
{
    Bytes abs = read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs");
    run_at_every_limit({"set CRC", {{"modu.abs", abs}}, {"-m=modu", "-l=8000"}, "modu.abs"});
    // A second run finds the bak file of the first and replaces it.
    run_at_every_limit({"set CRC again", {{"modu.abs", abs}, {"modu.bak", "old bak"}},
                        {"-m=modu", "-l=8000", "-v"}, "modu.abs"});
}

TEST(WriteFaults, SerialNumberStampedIntoAModuleFile)
{
    Bytes module = bin_module(snbr(41) + terminator + Bytes(200, '\0'));
    run_at_every_limit({"stamp bin", {{"modu.bin", module}},
                        {"-m=modu", "-i=bin", "-s=+", "-x=TYPE1", "-d"}, "modu.bin"});
}

TEST(WriteFaults, SerialNumberStampedIntoARawFile)
{
    Bytes raw = snbr(7) + terminator + Bytes(300, '\x33');
    Bytes info = "name=Raw data\ntype=0x24\nSNBR=+\nCFG=PORT1 MODE2 3\n";
    run_at_every_limit({"stamp raw", {{"data.raw", raw}, {"info.txt", info}},
                        {"-m=data", "-i=raw", "-f=info.txt", "-o=bin", "-d"}, "data.raw"});
}

TEST(WriteFaults, ThxInputRewrittenInPlace)
{
    // The tool's own thx output of the sample module is the input here.
    TempDir make;
    write_file(make.file("modu.bin"), read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin"));
    ASSERT_EQ(run_tarvel(make.path(), {"-m=modu", "-i=bin", "-t=16", "-l=8000"}).exit_code, 0);
    Bytes thx = read_file(make.file("modu.thx"));
    // Records of 32 bytes instead of 16: the rewrite changes every record.
    run_at_every_limit({"thx in place", {{"modu.thx", thx}},
                        {"-m=modu", "-i=thx", "-l=8000", "-t=32"}, "modu.thx"});
}

TEST(WriteFaults, RecordFileRewrittenWithItsCrc)
{
    // Several output pieces long, so that writes also fall short in the
    // middle of the copy, not only when it is flushed at the end.
    Bytes text = s_file(test_module(24000), 0x8000, '3', 32);
    ASSERT_GT(text.size(), 3 * 16384u);
    run_at_every_limit({"abs main job", {{"modu.abs", text}}, {"-m=modu", "-l=8000"}, "modu.abs"});
}

TEST(WriteFaults, CrcPatchedIntoAnIntelHexFile)
{
    Bytes text = ihex_file(test_module(24000), 0x8000, 32, "\r\n");
    ASSERT_GT(text.size(), 3 * 16384u);
    run_at_every_limit({"hex main job", {{"modu.hex", text}}, {"-m=modu", "-i=hex", "-l=8000"}, "modu.hex"});
    // Patched in place, then replaced by the tool's own Intel HEX output.
    run_at_every_limit({"hex in place", {{"modu.hex", text}, {"modu.bak", "old bak"}},
                        {"-m=modu", "-i=hex", "-l=8000", "-o=hex"}, "modu.hex"});
}
