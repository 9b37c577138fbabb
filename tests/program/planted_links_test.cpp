// In a shared build directory anyone may create names before a run does.
// Links planted at every name a run creates or replaces, each pointing at a
// victim file: the victims stay as they were, every result is a regular file
// with the content of a clean run, and the run prints and exits as a clean
// run does.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builders.h"
#include "test_support.h"

namespace {

struct PlantJob {
    const char *name;
    Files inputs;
    std::vector<std::string> args;
    std::vector<std::string> planted;  // names to plant a link at
};

void expect_links_are_not_followed(const PlantJob &job)
{
    TempDir clean_dir;
    lay_out(clean_dir, job.inputs);
    RunResult clean = run_tarvel(clean_dir.path(), job.args);
    ASSERT_EQ(clean.exit_code, 0) << job.name << "\n" << clean.out;

    TempDir dir;
    lay_out(dir, job.inputs);
    for (size_t i = 0; i < job.planted.size(); i++) {
        std::string victim = "victim" + std::to_string(i);
        write_file(dir.file(victim), "victim file " + std::to_string(i));
        std::filesystem::create_symlink(victim, dir.file(job.planted[i]));
    }
    RunResult r = run_tarvel(dir.path(), job.args);
    EXPECT_EQ(r.exit_code, clean.exit_code) << job.name;
    EXPECT_EQ(r.out, clean.out) << job.name;

    for (size_t i = 0; i < job.planted.size(); i++)
        EXPECT_EQ(read_file(dir.file("victim" + std::to_string(i))),
                  "victim file " + std::to_string(i))
            << job.name << ": written through " << job.planted[i];
    for (const auto &entry : std::filesystem::directory_iterator(clean_dir.path())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir.file(name))))
            << job.name << ": " << name << " is not a regular file";
        EXPECT_EQ(read_file(dir.file(name)), read_file(entry.path().string()))
            << job.name << ": " << name;
    }
}

}  // namespace

TEST(PlantedLinks, RecordFileWithBinAndThdOutputs)
{
    expect_links_are_not_followed(
        {"set CRC, bin and thd",
         {{"modu.abs", read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs")}},
         {"-m=modu", "-l=8000", "-o=bin", "-d", "-v"},
         // Among them the temporary names that earlier versions used.
         {"modu.new", "modu.bin", "modu.thd", "modu.bin.tarvel-tmp", "modu.thd.tarvel-tmp"}});
}

TEST(PlantedLinks, RawFileStampedWithConfigurationRecords)
{
    expect_links_are_not_followed(
        {"stamp raw",
         {{"data.raw", snbr(7) + terminator + Bytes(40, '\x33')},
          {"info.txt", "name=Raw\ntype=0x24\nSNBR=+\nCFG=PORT1 MODE2 3\n"}},
         {"-m=data", "-i=raw", "-f=info.txt", "-o=bin"},
         {"generic.tmp", "data.bin", "data.raw.tarvel-tmp"}});
}

TEST(PlantedLinks, ModuleFileStampedWithThxAndThdOutputs)
{
    expect_links_are_not_followed(
        {"stamp bin",
         {{"modu.bin", bin_module(snbr(41) + terminator + Bytes(40, '\0'))}},
         {"-m=modu", "-i=bin", "-s=+", "-d"},
         {"modu.thx", "modu.thd", "modu.bin.tarvel-tmp"}});
}
