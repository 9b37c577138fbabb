// In a shared build directory anyone may create names before a run does.
// Links planted at every name a run creates or replaces, its temporary names
// included, each pointing at a victim file: the victims stay as they were,
// every result is a regular file with the content of a clean run, and the
// run prints and exits as a clean run does.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fault_jobs.h"
#include "test_support.h"

namespace {

// The first temporary names the run of that process id takes.
std::vector<std::string> temporary_names(int pid)
{
    std::vector<std::string> names;
    for (int n = 0; n < 3; n++)
        names.push_back(".tarvel-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp");
    return names;
}

class PlantedLinks : public FaultJobTest {};

}  // namespace

TEST_P(PlantedLinks, AreReplacedNeverFollowed)
{
    FaultJob job = fault_job(GetParam());
    TempDir clean_dir;
    lay_out(clean_dir, job.inputs);
    RunResult clean = run_tarvel(clean_dir.path(), job.args);
    ASSERT_EQ(clean.exit_code, 0) << job.name << "\n" << clean.out;

    // The run waits at the gate while the links are planted, so that its
    // own temporary names (which carry its process id) can be planted too.
    TempDir dir;
    lay_out(dir, job.inputs);
    Gate gate;
    StartOptions how;
    how.gate = &gate;
    Started run = start_tarvel(dir.path(), job.args, how);
    std::vector<std::string> planted;
    for (const std::string &name : job.planted) {
        if (name != TEMPORARY) {
            planted.push_back(name);
            continue;
        }
        for (const std::string &temporary : temporary_names(run.pid))
            planted.push_back(temporary);
    }
    for (size_t i = 0; i < planted.size(); i++) {
        std::string victim = "victim" + std::to_string(i);
        write_file(dir.file(victim), "victim file " + std::to_string(i));
        std::filesystem::create_symlink(victim, dir.file(planted[i]));
    }
    gate.open();
    RunResult r = finish_tarvel(run);
    EXPECT_EQ(r.exit_code, clean.exit_code) << job.name;
    EXPECT_EQ(r.out, clean.out) << job.name;

    for (size_t i = 0; i < planted.size(); i++)
        EXPECT_EQ(read_file(dir.file("victim" + std::to_string(i))), "victim file " + std::to_string(i))
            << job.name << ": written through " << planted[i];
    for (const auto &entry : std::filesystem::directory_iterator(clean_dir.path())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir.file(name))))
            << job.name << ": " << name << " is not a regular file";
        EXPECT_EQ(read_file(dir.file(name)), read_file(entry.path().string())) << job.name << ": " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, PlantedLinks, ::testing::ValuesIn(fault_job_names(PLANTED)), job_name);
