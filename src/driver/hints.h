// A failed run explained in words: one or two lines on standard error,
// "tarvel: " first, that say what was wrong and what to do. Standard output,
// which build logs are compared against, is left as it is.
#pragma once

#include <cstdint>

struct Failure {
    int32_t status;           // the run's status, not 0
    int command;              // the batch command that failed, 0 when none ran
    int failed_arg;           // the argument whose option failed, 0 for none
    int argc;
    const char *const *argv;
};

// Prints the explanation. Reads the state the run left (the options, the
// load's report, the module image), so it runs before the image is freed.
void explain_failure(const Failure &failure);
