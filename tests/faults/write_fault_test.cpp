// Every file-rewriting job run under write faults: file-size limits at and
// around every boundary a write can stop at (0, and the size of each file
// the job writes) and at a stride between, and ENOSPC and EIO at each of
// its writes and fsyncs in turn, injected by strace from outside. A run
// that does not complete must fail with exit code 1 and a message, and
// leave every file exactly as it was, with no file of its own behind; a
// run that completes (a write to standard output may fail harmlessly)
// leaves what an unhindered run leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "fault_jobs.h"
#include "test_support.h"

namespace {

constexpr size_t STRIDE_SAMPLES = 48;
const char *const WRITE_CALLS = "write,pwrite64,writev,copy_file_range,fsync,fdatasync";

std::set<size_t> limits_for(const Files &written)
{
    std::set<size_t> limits = {0, 1, 2};
    size_t largest = 0;
    for (const auto &[name, content] : written) {
        size_t n = content.size();
        largest = std::max(largest, n);
        for (size_t k = n > 2 ? n - 2 : 0; k <= n + 1; k++)
            limits.insert(k);
    }
    size_t stride = largest / STRIDE_SAMPLES + 1;
    for (size_t k = 0; k <= largest; k += stride)
        limits.insert(k);
    return limits;
}

// What every hindered run must leave: all or nothing. Once the files are
// in place, only the sync of their directory can fail: the run fails and
// says so, and the files are the new ones.
void expect_all_or_nothing(const FaultJob &job, const Files &after, const std::string &dir,
                           const RunResult &r, const std::string &at)
{
    bool committed = r.out.find(" to disk, Aborting\nError 8002") != std::string::npos &&
                     r.err.find("every file was put in place") != std::string::npos;
    if (r.exit_code == 0 || committed) {
        EXPECT_EQ(files_in(dir), after) << at << "\n" << r.out;
        return;
    }
    EXPECT_EQ(r.exit_code, 1) << at;
    EXPECT_NE(r.out.find("Error "), std::string::npos) << at << "\n" << r.out;
    EXPECT_EQ(files_in(dir), job.inputs) << at << "\n" << r.out;
}

// The number of calls of each name in WRITE_CALLS that one run makes.
std::map<std::string, int> write_calls(const TempDir &dir, const FaultJob &job)
{
    lay_out(dir, job.inputs);
    std::string trace = dir.path() + ".trace";
    run_tarvel_under(dir.path(), {"strace", "-qq", "-o", trace, "-e", std::string("trace=") + WRITE_CALLS},
                     job.args);
    std::istringstream lines(read_file(trace));
    std::filesystem::remove(trace);
    std::map<std::string, int> counts;
    for (std::string line; std::getline(lines, line);)
        if (size_t paren = line.find('('); paren != std::string::npos)
            counts[line.substr(0, paren)]++;
    return counts;
}

class WriteFaults : public FaultJobTest {};

class IoErrors : public FaultJobTest {
protected:
    void SetUp() override
    {
        if (!strace_available())
            GTEST_SKIP() << "strace is not installed";
    }
};

}  // namespace

TEST_P(WriteFaults, AtEveryBoundary)
{
    FaultJob job = fault_job(GetParam());
    TempDir dir;
    lay_out(dir, job.inputs);
    RunResult full = run_tarvel(dir.path(), job.args);
    ASSERT_EQ(full.exit_code, 0) << job.name << "\n" << full.out;
    Files after = files_in(dir.path());

    for (size_t limit : limits_for(after)) {
        lay_out(dir, job.inputs);
        RunResult r = run_tarvel_limited(dir.path(), job.args, long(limit));
        expect_all_or_nothing(job, after, dir.path(), r, job.name + " limit " + std::to_string(limit));
    }
}

TEST_P(IoErrors, AtEveryWriteAndFsync)
{
    FaultJob job = fault_job(GetParam());
    TempDir dir;
    lay_out(dir, job.inputs);
    ASSERT_EQ(run_tarvel(dir.path(), job.args).exit_code, 0) << job.name;
    Files after = files_in(dir.path());

    for (const auto &[call, count] : write_calls(dir, job)) {
        for (int when = 1; when <= count; when++) {
            for (const char *error : {"ENOSPC", "EIO"}) {
                lay_out(dir, job.inputs);
                RunResult r = run_tarvel_under(
                    dir.path(),
                    {"strace", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                     "inject=" + call + ":error=" + error + ":when=" + std::to_string(when)},
                    job.args);
                expect_all_or_nothing(job, after, dir.path(), r,
                                      job.name + ", " + error + " at " + call + " #" +
                                          std::to_string(when));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, WriteFaults, ::testing::ValuesIn(fault_job_names(WRITE_FAULTS)),
                         job_name);
INSTANTIATE_TEST_SUITE_P(Jobs, IoErrors, ::testing::ValuesIn(fault_job_names(IO_ERRORS)), job_name);
