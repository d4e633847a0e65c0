// The command-line conventions of d88info and d88sample: --help and --version, one-line errors
// that name the program and point at --help, and a checked standard output.
#pragma once

// Prints "PROGRAM: MESSAGE" and a hint to run --help on standard error; returns status 1.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int commandLineError(const char* program, const char* format, ...);

// Prints "PROGRAM VERSION" on standard output.
void printVersion(const char* program);

// True when `text` is a whole decimal number from `min` to `max`, stored in `value`.
bool parseNumber(const char* text, long min, long max, long& value);

// Flushes standard output. When that or an earlier write failed, says so on standard error
// and returns 1; otherwise returns `status`.
int finishOutput(const char* program, int status);
