// Number columns of the side files (.wv1, .fd, .wv2), formatted without the cost of a
// printf call per number: double arithmetic where its rounding is certain, std::to_chars
// elsewhere (printf's correctly rounded digits, ties to even, "inf" and "nan" with their
// signs), so the bytes are those of printf.
#pragma once

// Writes v at `at` exactly as printf writes it with "%<width>.<precision>e" (right
// aligned, blanks in front) and returns the end. `at` needs room for
// max(width, precision + 32) characters; no NUL is written.
char* putScientific(char* at, double v, int width, int precision);

// The same for "%<width>.<precision>f". `at` needs room for max(width, precision + 320)
// characters.
char* putFixed(char* at, double v, int width, int precision);
