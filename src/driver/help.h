// The banner and the help text.
#pragma once

// Prints the banner line (the first help line).
void print_banner();

// Prints the 21 help lines.
void print_help();
