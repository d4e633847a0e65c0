// d88extract --list: the files that an extraction would write, as `unzip -l` lists an archive:
// a table of their sizes, disks and saved names, then a total line.
#pragma once

#include "Plan.h"

#include <cstdio>
#include <string>
#include <vector>

// Prints the table of the files that `plan` writes, in table order, and the total line: their
// bytes and count, and the entries passed over, counted by outcome word. With `crcs` (the
// CRC-32 of each entry's file, by position in the plan, as crc32 prints it; empty where none)
// the list is verbose: it adds the columns of each file's CRC-32 and of its sectors that the
// image stores with a read-error status.
void printFileList(const SetPlan& plan, const std::vector<std::string>* crcs, FILE* out);
