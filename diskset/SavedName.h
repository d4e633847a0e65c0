// The name under which a directory entry's file lands, decided once for each place a file can
// land: the host's folder (the bytes as stored, or Unicode on Windows), a folder of UTF-8 names,
// or a zip file.
#pragma once

#include <string>

enum class NameTarget {
    Host, // the host's own names: the stored bytes (POSIX), or Unicode from code page 932 (Windows)
    Utf8, // UTF-8 names decoded from code page 932; a byte that stands for no character as %NN
    Zip,  // a zip member name: as Utf8, and control and path characters (\ / :) as %NN too
};

// What the host that files land on says of the entry names it is handed (NameTarget::Host):
// given by the host's side, so that the decisions here stay free of it.
struct NameRules {
    // True when the host cannot write a file of that name in a folder without reaching
    // outside it or being taken for something else.
    bool (*refuses)(const char* name);
    // Equal for two names that are one file in a folder of the host.
    std::string (*sameFileKey)(const char* name);
};

// The rules of a host whose names are bytes and whose only separator is '/'.
extern const NameRules BYTE_NAME_RULES;

struct SavedName {
    std::string name; // what is handed to the host's file calls, or stored in the zip
    std::string text; // the name as UTF-8 text, when hasText
    bool hasText;
    std::string key; // equal for two names that are one file at the target
};

// The saved name of the entry name `entryName` (its bytes up to the first space); `rules` are
// the host's, used for NameTarget::Host.
SavedName savedName(const char* entryName, NameTarget target, const NameRules& rules);

// True when the target cannot hold the file of `entryName`, saved as `saved`, without reaching
// outside its folder or being taken for something else: the host's rule for its own names, a
// '/' otherwise (so that a zip holds the files that a program on Linux writes).
bool refusesSavedName(const char* entryName, const SavedName& saved, NameTarget target,
                      const NameRules& rules);
