// The fixtures that tests of the driver state share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/info_file.h"
#include "driver/run.h"
#include "module/image_builder.h"
#include "platform/scratch_files.h"
#include "records/record_loader.h"
#include "state.h"
#include "test_support.h"

// The info-file reader the driver hands to the layers below it.
inline const InfoFileReader INFO_READER = {nullptr, [](void *, const char *path) {
                                               return read_info_file(path);
                                           }};

// Command 2 as the driver runs it for S-record, module and raw input; the
// load's findings go to *load.
inline int32_t build_test_image(RecordLoad *load, BuiltModule *built = nullptr)
{
    RecordFileLoader loader = {load, nullptr,
                           [](void *found, const char *path, uint8_t *image, uint32_t capacity,
                              uint32_t block) {
                               return load_records(static_cast<RecordLoad *>(found), path, image,
                                                   capacity, block);
                           }};
    BuiltModule mine = {};
    return build_image(loader, INFO_READER, built ? built : &mine);
}

// Starts every test from the state a run starts with, gives it a fresh
// temporary directory, and resets the state again at its end (freeing the
// image, closing files, dropping locks).
// Renames what the code under test staged into place, as the commit at
// the end of a run does.
inline void commit_test_files()
{
    int step = 0;
    EXPECT_TRUE(commit_staged_files(&step));
}

// The end of a run whose last step returned status: what it staged goes
// into place when it succeeded, and is removed when it failed.
inline void end_test_run(int32_t status)
{
    int step = 0;
    if (status == 0)
        EXPECT_TRUE(commit_staged_files(&step));
    else
        discard_scratch_files();
}

class StateTest : public ::testing::Test {
protected:
    void SetUp() override { init_state(); }
    void TearDown() override
    {
        release_record_load(&found);
        init_state();
    }

    TempDir dir;
    RecordLoad found = {};
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
