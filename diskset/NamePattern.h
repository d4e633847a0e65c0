// Shell patterns, as a shell matches file names: `*` any run of characters, `?` one character,
// `[...]` one character of a set (`a-z` a range, `[!...]` or `[^...]` one that is not in it, a
// `]` first in the set stands for itself, `[:digit:]` and the other ASCII classes of a shell by
// name), `\` the next character itself; a `[` that no `]` closes is itself. Every other
// character, a leading `.` included, matches itself, case included. Text is UTF-8, where a
// character is a whole sequence (a byte that starts none is one of its own), or bytes, one
// character each.
#pragma once

#include <string>

enum class PatternText { Utf8, Bytes };

bool matchesPattern(const std::string& pattern, const std::string& text, PatternText kind);
