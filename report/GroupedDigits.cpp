#include "GroupedDigits.h"

std::string groupedDigits(int64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > (number < 0 ? 1 : 0); at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}
