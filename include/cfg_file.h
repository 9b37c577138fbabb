// generic.tmp: the "_CFG" configuration records that the CFG lines of an
// info file collect, and that raw packaging copies into its module.
#pragma once

#include <cstdint>

constexpr const char *CFG_FILE_NAME = "generic.tmp";  // in the working directory
constexpr uint32_t CFG_RECORD_SIZE = 32;              // one record, an entry of 24 data bytes
