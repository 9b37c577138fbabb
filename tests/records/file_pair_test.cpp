// The file pair of the CRC patch copy.
#include "records/file_pair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fixtures.h"
#include "state.h"
#include "test_support.h"

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
