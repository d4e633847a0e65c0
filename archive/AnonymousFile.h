// Files without a name, for what is unpacked: never in the user's folders, and gone when closed
// or when the program ends, however it ends.
#pragma once

#include <string>

// Opens a new empty file for reading and writing in $TMPDIR (else /tmp) that has no name: made
// with O_TMPFILE, or where the file system has none, named and unlinked at once. Returns its
// descriptor, or -1 with errno set; `folder` receives the folder tried.
int openAnonymousFile(std::string& folder);
