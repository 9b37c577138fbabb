// Derived names.
#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <string>

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
