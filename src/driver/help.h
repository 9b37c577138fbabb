// The banner and the help text.
#pragma once

extern const char *const banner;

// Prints the 21 help lines.
void print_help();
