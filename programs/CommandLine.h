// The command-line convention of d88extract, d88info and d88sample: GNU-style options read by
// getopt_long, --help and --version, a usage error as one line naming the problem and a hint to
// --help (exit status 2), an option that takes one value given once, paths quoted and escaped
// alike in every message, and a standard output that a reader may close early.
#pragma once

#include "DirectoryLayout.h"
#include "SavedName.h"

#include <cstdio>
#include <string>
#include <vector>

// The exit status of a usage error.
constexpr int STATUS_USAGE = 2;

// One option of a program.
struct OptionDefinition {
    const char* name;  // the long name, without "--"
    char letter;       // the short form, 0 when there is none
    const char* needs; // what its value must be, as a usage error says it; null: takes no value
    bool repeatable;   // an option with a value that may be given more than once
};

// A program's options and how often each was given so far.
struct OptionReader {
    const char* program;
    std::vector<OptionDefinition> definitions;
    std::vector<int> given;
};

OptionReader optionReader(const char* program, std::vector<OptionDefinition> definitions);

constexpr int OPTIONS_END = -1;    // the operands follow, from argv[optind]
constexpr int OPTIONS_FAILED = -2; // a usage error was said

// The next option of the command line as an index into reader.definitions, with its value in
// `value` (null for an option without one). Says an unknown option, a missing value, a value given
// to an option that takes none and a repeated option with one value, and returns OPTIONS_FAILED.
int nextOption(OptionReader& reader, int argc, char** argv, const char*& value);

// The words after the options.
std::vector<const char*> operandsAfterOptions(int argc, char** argv);

// Prints "PROGRAM: MESSAGE" and a hint to run --help on standard error; returns STATUS_USAGE.
// Text from the command line in the message goes through shownPath.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int commandLineError(const char* program, const char* format, ...);

// "--NAME needs NEEDS, got 'VALUE'" for option `option` of `reader`; returns STATUS_USAGE.
int badOptionValue(const OptionReader& reader, int option, const char* value);

// "PROGRAM VERSION" on standard output; returns the exit status.
int printVersion(const char* program);

// The layout named by "a" or "b"; null for anything else.
const DirectoryLayout* layoutByLetter(const char* letter);

// True when `text` is a whole decimal number from `min` to `max`, stored in `value`.
bool parseNumber(const char* text, long min, long max, long& value);

// How names are written or shown (--names): the locale's choice, decoded, or as stored.
enum class NameChoice { Default, Utf8, ShiftJis };
constexpr const char* NAMES_NEEDS = "utf-8 or shift_jis";
// False for a word that is neither "utf-8" nor "shift_jis".
bool parseNameChoice(const char* word, NameChoice& choice);
// Where names land for the choice: decoded to UTF-8, or as the host names files (the bytes as
// stored; Unicode on Windows, whatever is asked). By default UTF-8 when the locale's character
// set is.
NameTarget nameTargetFor(NameChoice choice);

// The path as messages on `stream` show it, between quotes: 'PATH'.
std::string quotedPath(const char* path, FILE* stream);

// Flushes standard output and ends the program's output. A reader that closed it early (as
// `| head` does) ends the program quietly when nothing else went wrong, as it ends any program
// that writes into a closed pipe: on POSIX hosts by SIGPIPE when that was left to its default
// action. Otherwise a failed write is said on standard error and the status is 1.
int finishOutput(const char* program, int status);
