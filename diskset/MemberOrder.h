// The order in which the files that a zip holds are joined, by d88extract and by the page (which
// sorts the files it is given the same way): by the name after the last '/', as people sort
// names: runs of digits by their value, letters without regard to case (then lower case first),
// marks before digits before letters. Bytes past ASCII come after ASCII, in their order.
#pragma once

#include <string>

// True when the member named `a` is joined before the one named `b`; false for names that sort
// as equal (as "dump01.d88" and "dump1.d88").
bool memberComesBefore(const std::string& a, const std::string& b);

// A file to join, as the order sees it: its name's bytes as stored (a zip member's as the zip
// stores them, a given file's as the system gives them) and the whole path that it is shown
// under ("a.zip/set.d88").
struct JoinedName {
    std::string stored;
    std::string path;
};

// The order in which d88extract joins a zip's members and the page every file it is given: by
// memberComesBefore, then by the bytes of the stored name after the last '/', then by the bytes
// of the whole path, so that the order never hangs on the order in which they came.
bool joinedNameComesBefore(const JoinedName& a, const JoinedName& b);
