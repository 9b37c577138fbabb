// Hexadecimal characters and numbers.
//
// Two notions of a hex digit live here. The record routines (hex_value,
// hex_to_bytes) know "0"-"9" and "A"-"F" only; every other character reads
// as 0 without error. The number parser (parse_hex_digits, parse_hex) takes
// either case and stops at the first other character. All text written here
// is upper case.
#pragma once

#include <cstdint>

// Character for the low 4 bits of value.
char hex_digit(int value);

// Two characters, high nibble first; no terminator.
void byte_to_hex(uint8_t byte, char *out);

// Four characters for the low 16 bits, most significant first; no terminator.
void word_to_hex(uint32_t value, char *out);

// 0-15 for "0"-"9" and "A"-"F", 0 for anything else.
int hex_value(uint8_t c);

// Converts n characters (n even) to n/2 bytes and returns n/2. The
// destination may lie inside the source as long as it does not run ahead of
// the characters still to be read. An odd n converts its first n-1 characters.
int hex_to_bytes(int n, const uint8_t *source, uint8_t *destination);

// Value of the leading hex digits of text, at most limit of them; the value
// keeps the last eight digits taken.
uint32_t parse_hex_digits(const char *text, int limit);

// Skips blanks and tabs, then parse_hex_digits(text, 512).
uint32_t parse_hex(const char *text);
