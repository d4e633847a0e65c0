// The order in which the files that a zip holds are joined, by d88extract and by the page (which
// sorts the files it is given the same way): by the name after the last '/', as people sort
// names: runs of digits by their value, letters without regard to case (then lower case first),
// marks before digits before letters. Bytes past ASCII come after ASCII, in their order.
#pragma once

#include <string>

// True when the member named `a` is joined before the one named `b`; false for names that the
// page takes as equal, which keep the zip's order.
bool memberComesBefore(const std::string& a, const std::string& b);
