// The help texts: --help names every option the parser takes.
#include "driver/help.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/option_parser.h"
#include "fixtures.h"
#include "status.h"
#include "test_support.h"

class Help : public WorkingDirTest {};

TEST_F(Help, UsageNamesEveryOptionTheParserTakes)
{
    StdoutCapture usage_out;
    print_usage();
    std::string usage = usage_out.stop();

    // Every character the parser does not refuse as "Unknown option" is an
    // option letter: the usage names it as -x (a letter in lower case).
    int letters = 0;
    for (int c = 1; c < 256; c++) {
        init_state();
        StdoutCapture out;
        int32_t rc = set_option(c, "");
        std::string said = out.stop();
        if (rc == STATUS_FAILED && said.rfind("Unknown option", 0) == 0)
            continue;
        letters++;
        char name[3] = {'-', char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c), 0};
        EXPECT_NE(usage.find(name), std::string::npos) << name << " is not in --help";
    }
    EXPECT_EQ(letters, 27);  // # * ? @ _ and the 22 letters A C D E F G H I K L M N O R S T U V W X Y Z
}
