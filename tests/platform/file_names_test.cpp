// Derived names and the file pair.
#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fixtures.h"
#include "options.h"
#include "state.h"
#include "test_support.h"

TEST(FileNames, ReplaceExtension)
{
    const char *first = replace_extension("modu.abs", "bak");
    EXPECT_STREQ(first, "modu.bak");
    replace_extension("modu.abs", "new");
    EXPECT_STREQ(first, "modu.new");  // one shared buffer
    EXPECT_STREQ(replace_extension("c:\\data.old\\modu.abs", "new"), "c:\\data.old\\modu.new");
    EXPECT_STREQ(replace_extension("a.b.shx", "thd"), "a.b.thd");
    EXPECT_STREQ(replace_extension("a.abcd", "bak"), "a.bak");
    EXPECT_STREQ(replace_extension("a.b.shx", "bin"), "a.b.bin");
    EXPECT_STREQ(replace_extension("modu.abs", ""), "modu");
    EXPECT_STREQ(replace_extension("dir.x/modules", "bin"), "dir.x/modules.bin");
    EXPECT_STREQ(replace_extension("", "bin"), ".bin");
    std::string longest(259, 'p');
    longest += ".abs";
    EXPECT_EQ(std::string(replace_extension(longest.c_str(), "bak")),
              longest.substr(0, 260) + "bak");
}

TEST(FileNames, BaseName)
{
    EXPECT_STREQ(base_name("c:\\x\\y/modu.bak"), "modu.bak");
    EXPECT_STREQ(base_name("modu.bak"), "modu.bak");
    EXPECT_STREQ(base_name("c:\\"), "");
    EXPECT_STREQ(base_name(""), "");
}

class FilePair : public StateTest {};

TEST_F(FilePair, OpensBothOrNothing)
{
    write_file(dir.file("in"), "x");
    std::string in = dir.file("in"), out = dir.file("out");
    ASSERT_EQ(open_file_pair(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(open_flags, OPEN_IN_FILE | OPEN_OUT_FILE);
    EXPECT_EQ(close_file_pair(), 0);
    EXPECT_EQ(open_flags, 0u);

    std::string missing = dir.file("missing");
    StdoutCapture c1;
    EXPECT_EQ(open_file_pair(missing.c_str(), out.c_str()), ENOENT);
    EXPECT_EQ(c1.stop(), "Unable to open input file " + missing + "\n");
    EXPECT_EQ(open_flags, 0u);

    std::string bad_out = dir.file("no/such/dir/out");
    StdoutCapture c2;
    EXPECT_EQ(open_file_pair(in.c_str(), bad_out.c_str()), ENOENT);
    EXPECT_EQ(c2.stop(), "Unable to open output file " + bad_out + "\n");
    EXPECT_EQ(open_flags, 0u);
    EXPECT_EQ(pair_in, nullptr);
}
