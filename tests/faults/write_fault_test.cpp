// Every file-rewriting job run under file-size limits: a run that does not
// complete must fail with exit code 1 and a message, and leave the user's
// file exactly as before or exactly as a complete run leaves it; a run that
// completes matches an unlimited run. The limits lie at and around every
// boundary a write can stop at (0, and the size of each file the job
// writes) and at a stride between.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "fault_jobs.h"
#include "test_support.h"

namespace {

constexpr size_t STRIDE_SAMPLES = 48;

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

class WriteFaults : public FaultJobTest {};

}  // namespace

TEST_P(WriteFaults, AtEveryBoundary)
{
    FaultJob job = fault_job(GetParam());
    TempDir dir;
    lay_out(dir, job.inputs);
    RunResult full = run_tarvel(dir.path(), job.args);
    ASSERT_EQ(full.exit_code, 0) << job.name << "\n" << full.out;
    Files after = files_in(dir.path());
    const Bytes &before = job.inputs.at(job.user_file);
    const Bytes &complete = after.at(job.user_file);

    for (size_t limit : limits_for(after)) {
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

INSTANTIATE_TEST_SUITE_P(Jobs, WriteFaults, ::testing::ValuesIn(fault_job_names(WRITE_FAULTS)),
                         job_name);
