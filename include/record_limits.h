// How long the records a run handles may be: the record buffer, and the
// T3 records of a thx output.
#pragma once

#include <cstdint>

constexpr int RECORD_BUFFER_SIZE = 1024;      // longest S-record line (515) with room to spare
constexpr int32_t DEFAULT_RECORD_SIZE = 247;  // data bytes per T3 record without -t, or with -t=0
