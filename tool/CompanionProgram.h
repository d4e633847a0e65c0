// The command-line conventions of d88info and d88sample: --help and --version, one-line errors
// that name the program and point at --help, and a checked standard output.
#pragma once

// Prints "PROGRAM: MESSAGE" and a hint to run --help on standard error; returns status 1.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int commandLineError(const char* program, const char* format, ...);

#include "DirectoryLayout.h"

// When `word` is --help or --version, prints the help (through `printHelp`) or the version to
// standard output, sets `status` and returns true.
bool answeredHelpOrVersion(const char* program, const char* word, void (*printHelp)(), int& status);

// The layout named by "a" or "b"; null for anything else.
const DirectoryLayout* layoutByLetter(const char* letter);

// True when `text` is a whole decimal number from `min` to `max`, stored in `value`.
bool parseNumber(const char* text, long min, long max, long& value);

// Flushes standard output. When that or an earlier write failed, says so on standard error
// and returns 1; otherwise returns `status`.
int finishOutput(const char* program, int status);
