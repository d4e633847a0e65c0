#include "MemberOrder.h"

#include <cstring>

namespace {

// ASCII marks in the order of the Unicode collation, before the digits.
constexpr char MARKS[] = "\t\n\v\f\r _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$";
constexpr int DIGIT_WEIGHT = 100; // any run of digits, then compared by value
constexpr int LETTER_WEIGHT = 200;
constexpr int OTHER_WEIGHT = 300;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The weight of a byte that is not a digit, the same for both cases of a letter.
int weight(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
        return OTHER_WEIGHT + byte;
    }
    if (lower(c) >= 'a' && lower(c) <= 'z') {
        return LETTER_WEIGHT + (lower(c) - 'a');
    }
    const char* mark = c != '\0' ? strchr(MARKS, c) : nullptr;
    return mark != nullptr ? static_cast<int>(mark - MARKS) : DIGIT_WEIGHT - 1; // a control
}

std::string baseName(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Compares the runs of digits at a[i] and b[j] by value, moving past them. <0, 0 or >0.
int compareNumbers(const std::string& a, size_t& i, const std::string& b, size_t& j) {
    while (i + 1 < a.size() && a[i] == '0' && isDigit(a[i + 1])) {
        ++i; // leading zeros count for nothing
    }
    while (j + 1 < b.size() && b[j] == '0' && isDigit(b[j + 1])) {
        ++j;
    }
    size_t endA = i;
    size_t endB = j;
    while (endA < a.size() && isDigit(a[endA])) {
        ++endA;
    }
    while (endB < b.size() && isDigit(b[endB])) {
        ++endB;
    }
    int order = static_cast<int>(endA - i) - static_cast<int>(endB - j); // more digits: larger
    for (; order == 0 && i < endA; ++i, ++j) {
        order = a[i] - b[j];
    }
    i = endA;
    j = endB;
    return order;
}

// The names' order without regard to case: <0, 0 or >0.
int comparePrimary(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const int order = compareNumbers(a, i, b, j);
            if (order != 0) {
                return order;
            }
            continue;
        }
        const int left = isDigit(a[i]) ? DIGIT_WEIGHT : weight(a[i]);
        const int right = isDigit(b[j]) ? DIGIT_WEIGHT : weight(b[j]);
        if (left != right) {
            return left - right;
        }
        ++i;
        ++j;
    }
    return (i < a.size()) - (j < b.size());
}

} // namespace

bool memberComesBefore(const std::string& a, const std::string& b) {
    const std::string left = baseName(a);
    const std::string right = baseName(b);
    const int order = comparePrimary(left, right);
    if (order != 0) {
        return order < 0;
    }
    // The same letters: the first that differs in case decides, lower case first.
    for (size_t i = 0; i < left.size() && i < right.size(); ++i) {
        if (left[i] != right[i] && lower(left[i]) == lower(right[i])) {
            return left[i] > right[i]; // 'a' (0x61) comes before 'A' (0x41)
        }
    }
    return false;
}

bool joinedNameComesBefore(const JoinedName& a, const JoinedName& b) {
    if (memberComesBefore(a.stored, b.stored)) {
        return true;
    }
    if (memberComesBefore(b.stored, a.stored)) {
        return false;
    }
    const int bytes = baseName(a.stored).compare(baseName(b.stored));
    return bytes != 0 ? bytes < 0 : a.path < b.path;
}
