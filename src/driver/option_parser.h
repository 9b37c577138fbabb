// The option letters, from the command line and from info-file lines.
#pragma once

#include <cstdint>

// Handles one option: letter is the upper-cased option character, or -1 for
// an info-file keyword that matched nothing. Returns 0, or the status of the
// failure (the message is printed here).
[[nodiscard]] int32_t set_option(int letter, const char *value);

// -i and -o: letter 'I' or 'O', value the type name (first three characters
// count, any case). Returns 0, ERR_INPUT_TYPE, ERR_OUTPUT_TYPE or
// ERR_TYPE_LETTER.
[[nodiscard]] int32_t set_file_type(int letter, const char *value);

// The option letter of a command-line argument "-X=value": its second
// character, upper-cased.
int option_letter(const char *arg);

// The value of a command-line argument: from its fourth character on
// (the third, normally "=", is skipped whatever it is), or "".
const char *option_value(const char *arg);

// -k with an option or input that would write: prints why and returns
// ERR_CHECK_WRITES.
[[nodiscard]] int32_t refuse_under_check();
