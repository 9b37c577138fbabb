// Command 2: the modules a run takes, each loaded, checked and given its
// CRC. A record file is loaded as the link address says; an ELF file, or a
// record file that holds more than the module (-w), is read whole first,
// and the run takes the module of every -l, or, without -l, every module
// it finds there.
#pragma once

#include <cstdint>

#include "driver/run.h"

// Builds the image of each module the run takes, in address order, and
// prints its summary line; keeps in the run what it learns of each. Under
// -k a wrong or unset CRC does not stop the run before every module is
// checked. Returns 0, or the status of the first failure.
[[nodiscard]] int32_t load_modules(Run *run);
