// The two families of record files. S-record files ("abs", "shx", "thx")
// hold S-record lines and T-records; Intel HEX files ("hex") hold ":" lines.
// Any other byte where a record would start is a stray byte.
#pragma once

enum class RecordFormat { S_RECORDS, INTEL_HEX };
