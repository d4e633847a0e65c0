// Numbers as the messages show them: 75776 as "75,776", digits in groups of three whatever the
// locale.
#pragma once

#include <cstdint>
#include <string>

std::string groupedDigits(int64_t number);
