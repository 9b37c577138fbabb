// A run reported for machines (--json): one JSON document on standard
// output instead of the text lines, as docs/report.schema.json describes
// it. Standard error keeps its explanations, the exit code is the same.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/run.h"

// What -c found of a file.
struct FileCrcReport {
    bool done;      // -c ran
    int64_t size;
    uint16_t crc;
    size_t printed;  // the length of the text held back
};

// Prints the document of the run: the tool's version, the input and its
// type, each module the run took, -c's file, and for a failure its
// status, name and message. printed is the text the run would have printed.
// explanation holds the words of a failure that standard error gave.
void print_json_report(const Run &run, const FileCrcReport &file, const char *printed,
                       const char *explanation);
