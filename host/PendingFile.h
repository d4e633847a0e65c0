// A new file written piece by piece and read back before it takes its name: what hostReplaceFile
// does with a buffer, for a file too large to hold in memory (d88update's image), with the same
// guarantees. The file has no name (or a temporary one that every signal or console event that
// ends the program removes first) until it is named; it then takes a free name only while that
// is free, or replaces the regular file under the name by a rename once its bytes reach the
// disk, taking over that file's permissions. Nothing is written through a symbolic link. Several
// such files may be pending at once, up to one per file that the reader joins.
#pragma once

#include "Host.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct PendingFile;

// Files that may be pending at once: one per file that the reader joins into an image.
constexpr int MAX_PENDING_FILES = 64;

// Starts a new file that is to take the name `path` (relative to `folder`, or absolute). What
// stands under the name is checked as hostReplaceFile checks it: a symbolic link, a folder, a
// device, pipe or socket, a file that may not be written and (on Windows) the short name of
// another file are refused and left alone. Null with `refused` saying why, when refused or when
// no new file can be made.
PendingFile* hostStartFile(const HostFolder& folder, const char* path, NameSource source,
                           ReplaceResult& refused);

// Appends `length` bytes. False with `error` (an errno value) when the write fails.
bool hostWriteFile(PendingFile* file, const uint8_t* data, size_t length, int& error);

// A stream that reads the file's bytes, for a check after the last write; it belongs to the
// file and is closed when the file is named or dropped. Null when it cannot be opened.
FILE* hostReadBack(PendingFile* file);

// Gives the file its name: ReplaceOutcome::Replaced when it holds the name, whole; otherwise
// the new file is gone and whatever stands under the name is as it was (Appeared, SymbolicLink
// and NotRegularFile tell what took a free name meanwhile). Frees `file`.
ReplaceResult hostNameFile(PendingFile* file);

// Removes the file, so that nothing of it is left. Frees `file`.
void hostDropFile(PendingFile* file);

// Holds back (true) the signals and console events that end the program, until let through
// again (false): while several new files take their names one after another, so that such an
// event ends the program before the first of them is named or after the last, never in between.
// What cannot be held (SIGKILL, a power loss) still can.
void hostHoldEndingSignals(bool hold);
