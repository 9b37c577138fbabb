// How a file holds the module. S-record files ("abs", "shx", "thx") hold
// S-record lines and T-records; Intel HEX files ("hex") hold ":" lines; any
// other byte where a record would start is a stray byte. An ELF file
// ("elf") holds the module in its segments, where the CRC's two bytes are
// set and nothing else changes. A module file and raw data hold no records.
#pragma once

enum class RecordFormat { S_RECORDS, INTEL_HEX, ELF, NONE };
