// Every file-rewriting job killed (SIGKILL, as a build timeout or a power
// cut would stop it) at each of its file system calls in turn, by strace
// from outside: after every kill each of the user's files holds exactly its
// old or its new content, and a run started afterwards is neither blocked
// nor changed by what the killed run left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "builders.h"
#include "test_support.h"

namespace {

// The calls that can change what is on disk, and the opens that create
// files. A kill between two of them sees every state the disk can be in.
const char *const WATCHED_CALLS =
    "openat,creat,write,pwrite64,fsync,fdatasync,close,rename,renameat,renameat2,link,linkat,"
    "unlink,unlinkat,fchmod,flock,ftruncate,copy_file_range,sync_file_range";

struct CrashJob {
    const char *name;
    Files inputs;                   // files laid out before each run
    std::vector<std::string> args;
    // Files that may also be missing after a kill: the .bak file, which the
    // run removes before it makes the new one, and generic.tmp, the tool's
    // scratch file.
    std::vector<std::string> may_vanish;
    // Contents a file may also hold between two steps that both replace it
    // (patched in place, then replaced by the written output).
    Files between = {};
};

struct CallPoint {
    std::string call;
    int occurrence;  // 1 for the first call of that name
};

bool strace_available()
{
    return std::system("strace -V > /dev/null 2>&1") == 0;
}

// Leftovers of a killed run that are not the user's: its temporary files and
// the .new file of a record file.
bool is_leftover(const std::string &name)
{
    return (name.rfind(".tarvel-", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".tmp") == 0) ||
           (name.size() > 4 && name.compare(name.size() - 4, 4, ".new") == 0);
}

// The watched calls of one run in order, from the first that names one of
// the job's files (what the program loader does before is of no interest).
std::vector<CallPoint> calls_of(const TempDir &dir, const CrashJob &job)
{
    lay_out(dir, job.inputs);
    std::string trace = dir.path() + ".trace";
    RunResult r =
        run_tarvel_under(dir.path(), {"strace", "-qq", "-o", trace, "-e", std::string("trace=") + WATCHED_CALLS},
                         job.args);
    EXPECT_EQ(r.exit_code, 0) << job.name << "\n" << r.out;
    std::istringstream lines(read_file(trace));
    std::filesystem::remove(trace);
    std::vector<CallPoint> points;
    std::map<std::string, int> seen;
    bool started = false;
    for (std::string line; std::getline(lines, line);) {
        size_t paren = line.find('(');
        if (paren == std::string::npos)
            continue;
        std::string call = line.substr(0, paren);
        int occurrence = ++seen[call];
        for (const auto &[name, content] : job.inputs)
            if (line.find('"' + name + '"') != std::string::npos)
                started = true;
        if (started)
            points.push_back({call, occurrence});
    }
    return points;
}

void kill_at_every_call(const CrashJob &job)
{
    TempDir dir;
    // What one complete run leaves, and what a second one leaves: a run
    // after a kill may find the job done already and do it once more.
    lay_out(dir, job.inputs);
    ASSERT_EQ(run_tarvel(dir.path(), job.args).exit_code, 0) << job.name;
    const Files after = files_in(dir.path());
    ASSERT_EQ(run_tarvel(dir.path(), job.args).exit_code, 0) << job.name;
    const Files after_twice = files_in(dir.path());

    std::vector<CallPoint> points = calls_of(dir, job);
    ASSERT_GT(points.size(), 5u) << job.name;
    for (const CallPoint &p : points) {
        std::string at = std::string(job.name) + ", killed at " + p.call + " #" +
                         std::to_string(p.occurrence);
        lay_out(dir, job.inputs);
        RunResult killed = run_tarvel_under(
            dir.path(),
            {"strace", "-qq", "-o", "/dev/null", "-e", "trace=" + p.call, "-e",
             "inject=" + p.call + ":signal=SIGKILL:when=" + std::to_string(p.occurrence)},
            job.args);
        EXPECT_EQ(killed.exit_code, 128 + 9) << at << "\n" << killed.out;

        Files now = files_in(dir.path());
        for (const auto &[name, complete] : after) {
            auto was = job.inputs.find(name);
            auto is = now.find(name);
            bool may_vanish = std::find(job.may_vanish.begin(), job.may_vanish.end(), name) !=
                              job.may_vanish.end();
            if (is == now.end()) {
                EXPECT_TRUE(was == job.inputs.end() || may_vanish) << at << ": " << name << " is missing";
                continue;
            }
            bool old_content = was != job.inputs.end() && is->second == was->second;
            // A .bak file may already hold the old input.
            bool old_input = false;
            for (const char *ext : {".abs", ".hex"}) {
                std::string input = name.substr(0, name.size() - 4) + ext;
                old_input = old_input || (may_vanish && name.size() > 4 && job.inputs.count(input) &&
                                          is->second == job.inputs.at(input));
            }
            bool between = job.between.count(name) && is->second == job.between.at(name);
            EXPECT_TRUE(old_content || old_input || between || is->second == complete ||
                        (may_vanish && is->second.empty()))
                << at << ": " << name << " is damaged";
        }
        for (const auto &[name, content] : now)
            EXPECT_TRUE(after.count(name) || is_leftover(name)) << at << ": unexpected " << name;

        // The next run goes through and ends as a complete run would.
        RunResult again = run_tarvel(dir.path(), job.args);
        EXPECT_EQ(again.exit_code, 0) << at << "\n" << again.out;
        for (const auto &[name, complete] : after) {
            Bytes content = read_file(dir.file(name));
            EXPECT_TRUE(content == complete || content == after_twice.at(name))
                << at << ", then run again: " << name;
        }
    }
}

class Crash : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!strace_available())
            GTEST_SKIP() << "strace is not installed";
    }
};

const Bytes example_abs = read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs");
const Bytes example_bin = read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin");

}  // namespace

TEST_F(Crash, CrcPatchOfAnSRecordFile)
{
    kill_at_every_call({"set CRC", {{"modu.abs", example_abs}}, {"-m=modu", "-l=8000"}, {"modu.bak"}});
}

TEST_F(Crash, CrcPatchOfAnSRecordFileWithAnOldBak)
{
    kill_at_every_call({"set CRC, old bak",
                        {{"modu.abs", example_abs}, {"modu.bak", "the backup of an earlier run"}},
                        {"-m=modu", "-l=8000"},
                        {"modu.bak"}});
}

TEST_F(Crash, RecordInputWithBinOutputOverAnOldBinFile)
{
    kill_at_every_call({"abs to bin",
                        {{"modu.abs", example_abs}, {"modu.bin", "an old bin file"}},
                        {"-m=modu", "-l=8000", "-o=bin"},
                        {"modu.bak"}});
}

TEST_F(Crash, SerialNumberStampedIntoAModuleFile)
{
    kill_at_every_call({"stamp bin",
                        {{"modu.bin", bin_module(snbr(41) + terminator + Bytes(200, '\0'))}},
                        {"-m=modu", "-i=bin", "-s=+", "-x=TYPE1"},
                        {}});
}

TEST_F(Crash, SerialNumberStampedIntoARawFile)
{
    kill_at_every_call({"stamp raw",
                        {{"data.raw", snbr(7) + terminator + Bytes(300, '\x33')},
                         {"info.txt", "name=Raw data\ntype=0x24\nSNBR=+\nCFG=PORT1 MODE2 3\n"}},
                        {"-m=data", "-i=raw", "-f=info.txt", "-o=bin"},
                        {"generic.tmp"}});
}

TEST_F(Crash, CrcPatchOfAnIntelHexFileAndItsOwnOutput)
{
    Bytes text = ihex_file(read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin"), 0x8000, 32);
    kill_at_every_call({"set CRC, Intel HEX", {{"modu.hex", text}}, {"-m=modu", "-i=hex", "-l=8000"},
                        {"modu.bak"}});
    // The file as the patch leaves it, before the written output replaces it.
    TempDir patch_only;
    write_file(patch_only.file("modu.hex"), text);
    ASSERT_EQ(run_tarvel(patch_only.path(), {"-m=modu", "-i=hex", "-l=8000"}).exit_code, 0);
    kill_at_every_call({"Intel HEX in place",
                        {{"modu.hex", text}, {"modu.bak", "the backup of an earlier run"}},
                        {"-m=modu", "-i=hex", "-l=8000", "-o=hex"},
                        {"modu.bak"},
                        {{"modu.hex", read_file(patch_only.file("modu.hex"))}}});
}

TEST_F(Crash, ThxInputRewrittenAsItsOwnOutput)
{
    TempDir make;
    write_file(make.file("modu.bin"), example_bin);
    ASSERT_EQ(run_tarvel(make.path(), {"-m=modu", "-i=bin", "-t=16", "-l=8000"}).exit_code, 0);
    kill_at_every_call({"thx in place",
                        {{"modu.thx", read_file(make.file("modu.thx"))}},
                        {"-m=modu", "-i=thx", "-l=8000", "-t=32"},
                        {}});
}

TEST_F(Crash, ASuccessfulRunPutsItsDirectoryOnDisk)
{
    // After its last rename, a run that reports success syncs the
    // directory, so that the new names survive a power cut too.
    TempDir dir;
    write_file(dir.file("modu.abs"), example_abs);
    std::string trace = dir.path() + ".trace";
    RunResult r = run_tarvel_under(
        dir.path(), {"strace", "-qq", "-o", trace, "-e", "trace=rename,link,fsync,openat"},
        {"-m=modu", "-l=8000", "-o=bin"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    const std::string text = read_file(trace);
    std::filesystem::remove(trace);
    std::istringstream lines(text);
    std::vector<std::string> calls;
    for (std::string line; std::getline(lines, line);)
        calls.push_back(line);
    size_t last_rename = 0;
    for (size_t i = 0; i < calls.size(); i++)
        if (calls[i].rfind("rename(", 0) == 0)
            last_rename = i;
    ASSERT_GT(last_rename, 0u);
    std::string dir_fd;
    bool synced = false;
    for (size_t i = last_rename + 1; i < calls.size(); i++) {
        const std::string &c = calls[i];
        if (c.rfind("openat(AT_FDCWD, \".\", ", 0) == 0 && c.find("O_DIRECTORY") != std::string::npos)
            dir_fd = c.substr(c.rfind("= ") + 2);
        if (!dir_fd.empty() && c.rfind("fsync(" + dir_fd + ")", 0) == 0 &&
            c.compare(c.size() - 3, 3, "= 0") == 0)
            synced = true;
    }
    EXPECT_TRUE(synced) << text;
}
