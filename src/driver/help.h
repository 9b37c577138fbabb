// The banner, the help text of -h, and the usage of --help.
#pragma once

// Prints the banner line (the first help line).
void print_banner();

// Prints the 21 help lines.
void print_help();

// --help: the whole usage, every option and file.
void print_usage();

// --version: "tarvel <release>".
void print_version();
