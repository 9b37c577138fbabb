// A failed run explained in words: one or two lines on standard error,
// "tarvel: " first, that say what was wrong and what to do. Standard output,
// which build logs are compared against, is left as it is.
#pragma once

#include "driver/run.h"

// Prints the explanation of the failed run from what its steps found (the
// run's value, the settings, the module image), so it runs before the image
// is freed. Nothing is read again from a file or from the arguments. The
// same words, without "tarvel: ", go to words (size bytes), one line each.
void explain_failure(const Run &run, char *words, size_t size);
