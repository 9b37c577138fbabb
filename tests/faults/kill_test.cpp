// Every file-rewriting job stopped at each of its file system calls in
// turn, by strace from outside: killed (SIGKILL, as a build timeout or a
// power cut stops it), killed where the file system has no hard links, and
// interrupted (SIGINT, SIGTERM, as Ctrl-C and make stop it). Afterwards each
// of the user's files holds exactly its old or its new content; an
// interrupted run leaves no file of its own behind and ends as the signal
// ends it; and a run started afterwards is neither blocked nor changed by
// what the stopped run left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fault_jobs.h"
#include "test_support.h"

namespace {

// The calls that can change what is on disk, and the opens that create
// files. A stop between two of them sees every state the disk can be in.
const char *const WATCHED_CALLS =
    "openat,creat,write,pwrite64,fsync,fdatasync,close,rename,renameat,renameat2,link,linkat,"
    "unlink,unlinkat,fchmod,flock,ftruncate,copy_file_range,sync_file_range";

// How the run is stopped.
struct Stop {
    const char *signal;    // SIGKILL, SIGINT, SIGTERM
    int number;            // its number, for the exit status
    bool no_hard_links;    // link() fails with EPERM, as on FAT
};

struct CallPoint {
    std::string call;
    int occurrence;  // 1 for the first call of that name
};

std::vector<std::string> strace_prefix(const Stop &stop, const std::string &output,
                                       const std::string &trace)
{
    // A call is tampered with only where it is traced.
    std::string traced = stop.no_hard_links ? trace + ",link,linkat" : trace;
    std::vector<std::string> prefix = {"strace", "-qq", "-o", output, "-e", "trace=" + traced};
    if (stop.no_hard_links) {
        prefix.push_back("-e");
        prefix.push_back("inject=link,linkat:error=EPERM");
    }
    return prefix;
}

// The watched calls of one run in order, from the first that names one of
// the job's files (what the program loader does before is of no interest).
std::vector<CallPoint> calls_of(const TempDir &dir, const FaultJob &job, const Stop &stop)
{
    lay_out(dir, job.inputs);
    std::string trace = dir.path() + ".trace";
    RunResult r = run_tarvel_under(dir.path(), strace_prefix(stop, trace, WATCHED_CALLS), job.args);
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
            started = started || line.find('"' + name + '"') != std::string::npos;
        // Where links fail, a stop at link() itself changes nothing.
        bool is_link = call == "link" || call == "linkat";
        if (started && !(stop.no_hard_links && is_link))
            points.push_back({call, occurrence});
    }
    return points;
}

// Each of the user's files holds its old content, its complete new content,
// or (for a .bak file or generic.tmp) nothing.
void expect_files_whole(const FaultJob &job, const Files &after, const Files &now,
                        const std::string &at)
{
    for (const auto &[name, complete] : after) {
        auto was = job.inputs.find(name);
        auto is = now.find(name);
        bool may_vanish =
            std::find(job.may_vanish.begin(), job.may_vanish.end(), name) != job.may_vanish.end();
        if (is == now.end()) {
            EXPECT_TRUE(was == job.inputs.end() || may_vanish) << at << ": " << name << " is missing";
            continue;
        }
        bool old_content = was != job.inputs.end() && is->second == was->second;
        // A .bak file may already hold the old input.
        bool old_input = false;
        for (const char *ext : {".abs", ".hex", ".elf"}) {
            std::string input = name.substr(0, name.size() - 4) + ext;
            old_input = old_input || (may_vanish && name.size() > 4 && job.inputs.count(input) &&
                                      is->second == job.inputs.at(input));
        }
        bool between = job.between.count(name) && is->second == job.between.at(name);
        EXPECT_TRUE(old_content || old_input || between || is->second == complete ||
                    (may_vanish && is->second.empty()))
            << at << ": " << name << " is damaged";
    }
}

void stop_at_every_call(const FaultJob &job, const Stop &stop)
{
    TempDir dir;
    // What one complete run leaves, and what a second one leaves: a run
    // after a stop may find the job done already and do it once more.
    lay_out(dir, job.inputs);
    ASSERT_EQ(run_tarvel(dir.path(), job.args).exit_code, 0) << job.name;
    const Files after = files_in(dir.path());
    ASSERT_EQ(run_tarvel(dir.path(), job.args).exit_code, 0) << job.name;
    const Files after_twice = files_in(dir.path());

    std::vector<CallPoint> points = calls_of(dir, job, stop);
    ASSERT_GT(points.size(), 5u) << job.name;
    for (const CallPoint &p : points) {
        std::string at = job.name + ", " + stop.signal + " at " + p.call + " #" +
                         std::to_string(p.occurrence);
        lay_out(dir, job.inputs);
        std::vector<std::string> prefix = strace_prefix(stop, "/dev/null", p.call);
        prefix.push_back("-e");
        prefix.push_back("inject=" + p.call + ":signal=" + stop.signal +
                         ":when=" + std::to_string(p.occurrence));
        RunResult stopped = run_tarvel_under(dir.path(), prefix, job.args);
        EXPECT_EQ(stopped.exit_code, 128 + stop.number) << at << "\n" << stopped.out;

        Files now = files_in(dir.path());
        expect_files_whole(job, after, now, at);
        // Killed, a run may leave its own files behind; interrupted, none.
        bool interrupted = stop.number != 9;
        for (const auto &[name, content] : now)
            EXPECT_TRUE(after.count(name) || (is_leftover(name) && !interrupted))
                << at << ": " << name << " is left";

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

class StoppedJob : public FaultJobTest {
protected:
    void SetUp() override
    {
        if (!strace_available())
            GTEST_SKIP() << "strace is not installed";
    }
};

class Killed : public StoppedJob {};
class KilledWithoutHardLinks : public StoppedJob {};
class Interrupted : public StoppedJob {};

}  // namespace

TEST_P(Killed, AtEveryCall)
{
    stop_at_every_call(fault_job(GetParam()), {"SIGKILL", 9, false});
}

TEST_P(KilledWithoutHardLinks, AtEveryCall)
{
    stop_at_every_call(fault_job(GetParam()), {"SIGKILL", 9, true});
}

TEST_P(Interrupted, AtEveryCall)
{
    stop_at_every_call(fault_job(GetParam()), {"SIGINT", 2, false});
    stop_at_every_call(fault_job(GetParam()), {"SIGTERM", 15, false});
}

INSTANTIATE_TEST_SUITE_P(Jobs, Killed, ::testing::ValuesIn(fault_job_names(KILLS)), job_name);
INSTANTIATE_TEST_SUITE_P(Jobs, KilledWithoutHardLinks,
                         ::testing::ValuesIn(fault_job_names(NO_HARD_LINKS)), job_name);
INSTANTIATE_TEST_SUITE_P(Jobs, Interrupted, ::testing::ValuesIn(fault_job_names(SIGNALS)), job_name);

TEST(Killed, ASuccessfulRunPutsItsDirectoryOnDisk)
{
    if (!strace_available())
        GTEST_SKIP() << "strace is not installed";
    // After its last rename, a run that reports success syncs the
    // directory, so that the new names survive a power cut too.
    TempDir dir;
    write_file(dir.file("modu.abs"), read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs"));
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
