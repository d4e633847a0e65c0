// Shell patterns, as a shell matches file names: `*` any run of characters, `?` one character,
// `[...]` one character of a set (`a-z` a range, `[!...]` or `[^...]` one that is not in it, a
// `]` first in the set stands for itself, `[:digit:]` and the other ASCII classes of a shell by
// name), `\` the next character itself; a `[` that no `]` closes is itself. Every other
// character, a leading `.` included, matches itself, case included. Text is UTF-8, where a
// character is a whole sequence (a byte that starts none is one of its own), or bytes, one
// character each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PatternText { Utf8, Bytes };

// The longest pattern taken, in bytes: a name is at most a few dozen, so a longer pattern is a
// mistake, and parsing one stays cheap.
constexpr size_t MAX_PATTERN_BYTES = 4096;

// One piece of a pattern: a run of any characters, one character of a set, or one character.
struct PatternToken {
    enum Kind { Star, Set, Literal } kind;
    bool negated;
    std::vector<uint32_t> ranges; // pairs, first and last of each range; Literal: the character
};

// A pattern parsed once, to be matched against any number of names.
struct CompiledPattern {
    std::vector<PatternToken> tokens;
    PatternText kind;
};

CompiledPattern compilePattern(const std::string& pattern, PatternText kind);

// True when `text` matches: time proportional to the text's length times the pattern's.
bool matchesPattern(const CompiledPattern& pattern, const std::string& text);
bool matchesPattern(const std::string& pattern, const std::string& text, PatternText kind);
