// The files whose module CRC is set in place. S-record files ("abs", "shx",
// "thx") hold S-record lines and T-records; Intel HEX files ("hex") hold ":"
// lines; any other byte where a record would start is a stray byte. An ELF
// file ("elf") holds the module in its segments, where the CRC's two bytes
// are set and nothing else changes.
#pragma once

enum class RecordFormat { S_RECORDS, INTEL_HEX, ELF };
