// The fixtures that tests of the driver state share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "state.h"
#include "test_support.h"

// Starts every test from the state a run starts with, gives it a fresh
// temporary directory, and resets the state again at its end (freeing the
// image, closing files, dropping locks).
class StateTest : public ::testing::Test {
protected:
    void SetUp() override { init_state(); }
    void TearDown() override { init_state(); }

    TempDir dir;
};

// The same, with the temporary directory as the working directory, for
// code that writes generic.tmp.
class WorkingDirTest : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        ASSERT_TRUE(getcwd(old_dir, sizeof old_dir));
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
    void TearDown() override
    {
        StateTest::TearDown();
        ASSERT_EQ(chdir(old_dir), 0);
    }

private:
    char old_dir[4096] = {};
};

// Whole-program tests: the built tool run in a fresh temporary directory.
class ProgramTest : public ::testing::Test {
protected:
    RunResult run(const std::vector<std::string> &args) { return run_tarvel(dir.path(), args); }
    Bytes file(const std::string &name) const { return read_file(dir.file(name)); }

    TempDir dir;
};
