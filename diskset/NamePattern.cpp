#include "NamePattern.h"

#include <cstdint>
#include <vector>

namespace {

// A byte that starts no UTF-8 sequence: a character of its own, unlike any code point.
constexpr uint32_t LONE_BYTE = 0x110000;

// The characters of `text`: code points for UTF-8, bytes otherwise.
std::vector<uint32_t> charactersOf(const std::string& text, PatternText kind) {
    std::vector<uint32_t> characters;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const uint8_t lead = *p;
        int length = 0;
        uint32_t code = lead;
        if (kind == PatternText::Utf8 && lead >= 0xC2 && lead <= 0xF4) {
            length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            code = lead & (0x7F >> length);
            for (int i = 1; i < length; ++i) {
                if (p + i >= end || (p[i] & 0xC0) != 0x80) {
                    length = 0; // not a whole sequence
                    break;
                }
                code = (code << 6) | (p[i] & 0x3F);
            }
        }
        if (length == 0) {
            characters.push_back(kind == PatternText::Utf8 && lead >= 0x80 ? LONE_BYTE + lead
                                                                           : lead);
            ++p;
        } else {
            characters.push_back(code);
            p += length;
        }
    }
    return characters;
}

using Token = PatternToken;

bool tokenMatches(const Token& token, uint32_t character) {
    if (token.kind == Token::Literal) {
        return token.ranges[0] == character;
    }
    bool inside = false;
    for (size_t i = 0; i + 1 < token.ranges.size(); i += 2) {
        inside = inside || (token.ranges[i] <= character && character <= token.ranges[i + 1]);
    }
    return inside != token.negated;
}

Token literal(uint32_t character) {
    return Token{Token::Literal, false, {character}};
}

// The ranges of the ASCII character classes that a shell knows by name in a set
// (`[[:digit:]]`), each pair the first and last of a range.
struct CharacterClass {
    const char* name;
    std::vector<uint32_t> ranges;
};

const std::vector<CharacterClass>& characterClasses() {
    static const std::vector<CharacterClass> classes = {
        {"alnum", {'0', '9', 'A', 'Z', 'a', 'z'}},
        {"alpha", {'A', 'Z', 'a', 'z'}},
        {"blank", {' ', ' ', '\t', '\t'}},
        {"cntrl", {0x00, 0x1F, 0x7F, 0x7F}},
        {"digit", {'0', '9'}},
        {"graph", {0x21, 0x7E}},
        {"lower", {'a', 'z'}},
        {"print", {0x20, 0x7E}},
        {"punct", {0x21, 0x2F, 0x3A, 0x40, 0x5B, 0x60, 0x7B, 0x7E}},
        {"space", {'\t', '\r', ' ', ' '}},
        {"upper", {'A', 'Z'}},
        {"xdigit", {'0', '9', 'A', 'F', 'a', 'f'}},
    };
    return classes;
}

// A class named at `i` (`[:name:]`): its ranges go into `set` (none for a name that no class
// has, so that it matches nothing, as in a shell), and `i` moves past it. False when there is
// no class at `i`.
bool readClass(const std::vector<uint32_t>& pattern, size_t& i, Token& set) {
    if (i + 1 >= pattern.size() || pattern[i] != '[' || pattern[i + 1] != ':') {
        return false;
    }
    std::string name;
    for (size_t j = i + 2; j + 1 < pattern.size(); ++j) {
        if (pattern[j] == ':' && pattern[j + 1] == ']') {
            for (const CharacterClass& known : characterClasses()) {
                if (name == known.name) {
                    set.ranges.insert(set.ranges.end(), known.ranges.begin(), known.ranges.end());
                }
            }
            i = j + 2;
            return true;
        }
        if (pattern[j] < 'a' || pattern[j] > 'z') {
            return false;
        }
        name += static_cast<char>(pattern[j]);
    }
    return false;
}

// The set that starts after the '[' at `at`, when a ']' closes it; `at` then points past it.
bool readSet(const std::vector<uint32_t>& pattern, size_t& at, Token& set) {
    const size_t size = pattern.size();
    // One character of the set, a backslash taking the next as it is.
    const auto element = [&](size_t& i) {
        if (pattern[i] == '\\' && i + 1 < size) {
            ++i;
        }
        return pattern[i++];
    };
    size_t i = at;
    set = Token{Token::Set, false, {}};
    if (i < size && (pattern[i] == '!' || pattern[i] == '^')) {
        set.negated = true;
        ++i;
    }
    for (bool first = true; i < size; first = false) {
        if (pattern[i] == ']' && !first) {
            at = i + 1;
            return true;
        }
        if (readClass(pattern, i, set)) {
            continue;
        }
        const uint32_t low = element(i);
        uint32_t high = low;
        if (i + 1 < size && pattern[i] == '-' && pattern[i + 1] != ']') {
            ++i;
            high = element(i);
        }
        set.ranges.push_back(low);
        set.ranges.push_back(high);
    }
    return false;
}

std::vector<Token> tokensOf(const std::vector<uint32_t>& pattern) {
    std::vector<Token> tokens;
    // A set is closed by a ']' after its first character that no '\\' takes as itself (a
    // pattern pairs each '\\' with the character after it wherever a set starts): a '[' with no
    // such ']' after it is itself, found without scanning, so that a run of them costs no more
    // than its length.
    size_t lastClose = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            ++i;
        } else if (pattern[i] == ']') {
            lastClose = i;
        }
    }
    for (size_t at = 0; at < pattern.size();) {
        const uint32_t character = pattern[at++];
        Token set;
        if (character == '*') {
            if (tokens.empty() || tokens.back().kind != Token::Star) {
                tokens.push_back(Token{Token::Star, false, {}});
            }
        } else if (character == '?') {
            tokens.push_back(Token{Token::Set, true, {}}); // the empty set, negated
        } else if (character == '[' && lastClose > at && readSet(pattern, at, set)) {
            tokens.push_back(set);
        } else if (character == '\\' && at < pattern.size()) {
            tokens.push_back(literal(pattern[at++]));
        } else {
            tokens.push_back(literal(character));
        }
    }
    return tokens;
}

} // namespace

CompiledPattern compilePattern(const std::string& pattern, PatternText kind) {
    return CompiledPattern{tokensOf(charactersOf(pattern, kind)), kind};
}

bool matchesPattern(const CompiledPattern& pattern, const std::string& text) {
    const std::vector<Token>& tokens = pattern.tokens;
    const std::vector<uint32_t> characters = charactersOf(text, pattern.kind);
    // Each star takes as few characters as it can; a mismatch gives the last star one more.
    size_t t = 0;
    size_t c = 0;
    size_t starToken = SIZE_MAX;
    size_t starFrom = 0;
    while (c < characters.size()) {
        if (t < tokens.size() && tokens[t].kind == Token::Star) {
            starToken = t++;
            starFrom = c;
        } else if (t < tokens.size() && tokenMatches(tokens[t], characters[c])) {
            ++t;
            ++c;
        } else if (starToken != SIZE_MAX) {
            t = starToken + 1;
            c = ++starFrom;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].kind == Token::Star) {
        ++t;
    }
    return t == tokens.size();
}

bool matchesPattern(const std::string& pattern, const std::string& text, PatternText kind) {
    return matchesPattern(compilePattern(pattern, kind), text);
}
