// The order in which the page joins the files that a zip holds: by the name after the last '/',
// as the browser's localeCompare(other, 'en', {numeric: true}) orders names: runs of digits by
// their value, letters without regard to case (then lower case first), marks before digits
// before letters. Bytes past ASCII come after ASCII, in their order (a name of ASCII, or of
// ASCII and Japanese, is ordered as the page orders it).
#pragma once

#include <string>

// True when the member named `a` is joined before the one named `b`; false for names that the
// page takes as equal, which keep the zip's order.
bool memberComesBefore(const std::string& a, const std::string& b);
