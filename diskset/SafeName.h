// Decides whether a directory entry's name may be opened as a file in the current directory.
#pragma once

// True when the name's bytes could reach outside the current directory on any host: it holds
// a '/' byte anywhere ('/' is never the second byte of a Shift_JIS character).
bool isUnsafeName(const char* name);

// True when Windows could not give a file the name `name` (UTF-16, converted from the entry's
// Shift_JIS bytes) in the current folder: it holds '\' or '/', a ':' (a drive such as "C:", or a
// stream), a character that Windows never allows in a name (< > " | ? * and U+0001-U+001F), ends
// in a dot or a space (which Windows drops, so that another name would be written), or is a
// device name such as "NUL" or "CON.TXT" (which would write no file at all).
bool isUnsafeWindowsName(const char16_t* name);
