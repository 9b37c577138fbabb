// Replacing a file through a temporary file of the run's own.
#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "status.h"
#include "test_support.h"

namespace {

// The counter in a temporary name "<target>.<pid>-<n>.tarvel-tmp".
unsigned counter_of(const char *temp)
{
    const char *dash = std::strrchr(temp, '-');
    return unsigned(std::strtoul(dash + 1, nullptr, 10));
}

std::string temp_name(const std::string &target, unsigned n)
{
    return target + "." + std::to_string(getpid()) + "-" + std::to_string(n) + ".tarvel-tmp";
}

}  // namespace

TEST(OutputFile, NamesThatAreTakenAreSteppedOverNotWrittenThrough)
{
    TempDir dir;
    std::string target = dir.file("modu.bin"), victim = dir.file("victim");
    write_file(target, "old");
    write_file(victim, "victim");
    chmod(target.c_str(), 0640);

    OutputFile out;
    ASSERT_EQ(output_open(&out, target.c_str()), STATUS_OK);
    unsigned next = counter_of(out.temp) + 1;
    output_discard(&out);
    EXPECT_FALSE(file_exists(out.temp));

    // The next names are taken: links to another file, and a directory.
    for (unsigned n = next; n < next + 3; n++)
        std::filesystem::create_symlink(victim, temp_name(target, n));
    std::filesystem::create_directory(temp_name(target, next + 3));
    ASSERT_EQ(output_open(&out, target.c_str()), STATUS_OK);
    EXPECT_EQ(std::string(out.temp), temp_name(target, next + 4));
    ASSERT_EQ(std::fwrite("new", 1, 3, out.stream), 3u);
    ASSERT_EQ(output_commit(&out), STATUS_OK);

    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(read_file(victim), "victim");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // the permission bits stay
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
    ASSERT_EQ(output_commit(&out), STATUS_OK);
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(read_file(victim), "victim");
}
