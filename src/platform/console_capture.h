// Holding back what a run prints on standard output: a run that reports
// for machines (--json) prints one document instead, and the text that
// would have gone to the console goes into it.
#pragma once

#include <cstddef>

// From now on, what is printed on standard output is held back. False
// when it cannot be (the text then goes to the console as ever).
bool hold_stdout();

// Ends holding back: standard output goes to the console again. Returns
// what was printed meanwhile, from the heap, terminated (null when nothing
// was held back or no memory is left); *length is its length.
char *release_stdout(size_t *length);
