// The jobs that rewrite a user's file, shared by every fault-injection
// suite: kills at every file system call, interruptions by SIGINT and
// SIGTERM, kills without hard links, write faults, and links planted at the
// names a run writes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

// The suites a job takes part in.
enum : unsigned {
    KILLS = 0x1,         // SIGKILL at every watched call
    SIGNALS = 0x2,       // SIGINT and SIGTERM at every watched call
    NO_HARD_LINKS = 0x4, // SIGKILL at every watched call, link() failing
    WRITE_FAULTS = 0x8,  // a file-size limit near every boundary and at a stride
    PLANTED = 0x10,      // links at every name the run creates or replaces
    IO_ERRORS = 0x20,    // ENOSPC and EIO at every write and fsync
};

// Stands in the planted names for the temporary names of the run itself.
inline const std::string TEMPORARY = "<temporary>";

struct FaultJob {
    std::string name;
    Files inputs;                          // laid out before each run
    std::vector<std::string> args;
    std::string user_file;                 // the file the job rewrites
    std::vector<std::string> may_vanish;   // .bak (removed first), generic.tmp (scratch)
    Files between;                         // contents between two steps that both replace a file
    std::vector<std::string> planted;      // names to plant a link at
};

// Names of the jobs that take part in a suite, for parameterised tests.
std::vector<std::string> fault_job_names(unsigned suite);

// The job of that name, built now (some inputs are made by the tool).
FaultJob fault_job(const std::string &name);

// Leftovers a run may leave when killed: its temporary files and modu.new.
bool is_leftover(const std::string &name);

bool strace_available();

// A suite over the jobs: each test's parameter is a job's name, which also
// names the test.
class FaultJobTest : public ::testing::TestWithParam<std::string> {};

inline std::string job_name(const ::testing::TestParamInfo<std::string> &info) { return info.param; }
