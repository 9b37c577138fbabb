// Info files of keyword=value lines, and the "_CFG" configuration records
// that their CFG lines collect in generic.tmp.
#pragma once

#include <cstdint>

#include "cfg_file.h"

// Reads the info file at path line by line and hands each line to set_option
// under the letter of its keyword. Returns 0, the errno of the failed open
// (ENOENT when path is null), or the status of the first line that fails,
// after printing that line. Closes generic.tmp at the end.
[[nodiscard]] int32_t read_info_file(const char *path);

// True when the info file at path has a line that writes a "_CFG" record,
// so that a run can take its turn on generic.tmp before anything else.
bool info_file_writes_cfg(const char *path);

// Appends one 32-byte "_CFG" record made from value to generic.tmp's
// successor (cfg_file_name), creating it beside generic.tmp on the first
// record of the run, staged to replace it when the run commits, and
// reopening it for appending when an info file has closed it. Returns 0,
// ERR_CFG_FILE (cannot be opened) or ERR_WRITE_SHORT (not written whole;
// the file is closed).
[[nodiscard]] int32_t write_cfg_record(const char *value);

// Before the commit: generic.tmp's successor, if still open, is closed and
// put on disk. Returns 0 or ERR_WRITE_SHORT.
[[nodiscard]] int32_t finish_cfg_file();
