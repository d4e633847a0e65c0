// Names and paths as the programs show them: on a terminal, control bytes are shown as \xNN.
#pragma once

#include <cstdio>
#include <string>

// A name as it may be shown on a stream: on a terminal (or a Windows console) bytes 0x01-0x1F
// and 0x7F become \xNN, and on a terminal that shows UTF-8 so do the C1 controls C2 80 to C2 9F
// (as \xc2\xNN), so that a name from an image cannot move the cursor or recolour the screen; to
// a pipe or a file the name goes as stored.
struct ShownName {
    const char* name;
    bool copied;             // the name to show is the copy in buffer
    char buffer[4 * 16 + 1]; // room for a 16-byte disk name, every byte escaped
    const char* text() const { return copied ? buffer : name; }
};

ShownName shownName(const char* name, FILE* stream);

// A path from the command line, of any length, shown on `stream` as names are.
std::string shownPath(const char* path, FILE* stream);
