// Replacing a file through a temporary file of the run's own.
#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/scratch_files.h"
#include "status.h"
#include "test_support.h"

namespace {

// The counter in a temporary name "<directory>/.tarvel-<pid>-<n>.tmp".
unsigned counter_of(const char *temp)
{
    const char *dash = std::strrchr(temp, '-');
    return unsigned(std::strtoul(dash + 1, nullptr, 10));
}

std::string temp_name(const TempDir &dir, unsigned n)
{
    return dir.file(".tarvel-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".tmp");
}

}  // namespace

TEST(OutputFile, NamesThatAreTakenAreSteppedOverNotWrittenThrough)
{
    TempDir dir;
    std::string target = dir.file("modu.bin"), victim = dir.file("victim");
    write_file(target, "old");
    write_file(victim, "victim");
    chmod(target.c_str(), 0640);
    // A name as long as a file system takes: the temporary name is short.
    std::string longest = dir.file(std::string(251, 'n') + ".bin");
    write_file(longest, "old");

    OutputFile out;
    int step = 0;
    auto commit = commit_staged_files;
    ASSERT_EQ(output_open(&out, target.c_str()), STATUS_OK);
    unsigned next = counter_of(out.temp) + 1;
    EXPECT_EQ(output_finish(&out, false), ERR_WRITE_SHORT);
    EXPECT_FALSE(file_exists(out.temp));

    // The next names are taken: links to another file, and a directory.
    for (unsigned n = next; n < next + 3; n++)
        std::filesystem::create_symlink(victim, temp_name(dir, n));
    std::filesystem::create_directory(temp_name(dir, next + 3));
    ASSERT_EQ(output_open(&out, target.c_str()), STATUS_OK);
    EXPECT_EQ(std::string(out.temp), temp_name(dir, next + 4));
    ASSERT_EQ(std::fwrite("new", 1, 3, out.stream), 3u);
    ASSERT_EQ(output_finish(&out, true), STATUS_OK);
    EXPECT_EQ(read_file(target), "old");  // until the run commits
    ASSERT_TRUE(commit(&step));

    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(read_file(victim), "victim");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // the permission bits stay

    ASSERT_EQ(output_open(&out, longest.c_str()), STATUS_OK);
    ASSERT_EQ(output_finish(&out, true), STATUS_OK);
    ASSERT_TRUE(commit(&step));
    EXPECT_EQ(read_file(longest), "");
}

TEST(OutputFile, ALinkAtTheTargetIsReplaced)
{
    TempDir dir;
    std::string target = dir.file("modu.thd"), victim = dir.file("victim");
    write_file(victim, "victim");
    std::filesystem::create_symlink(victim, target);
    OutputFile out;
    ASSERT_EQ(output_open(&out, target.c_str()), STATUS_OK);
    ASSERT_EQ(std::fwrite("new", 1, 3, out.stream), 3u);
    ASSERT_EQ(output_finish(&out, true), STATUS_OK);
    int step = 0;
    ASSERT_TRUE(commit_staged_files(&step));
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(read_file(victim), "victim");
}
