// Reading the files of a folder that the user gave, and telling files apart, for d88update: it
// reads each entry's new file from a folder, names the files there that no entry saves under, and
// never writes over a file that it reads. One implementation per host: FolderFilesPosix.cpp and
// FolderFilesWindows.cpp.
#pragma once

#include "Host.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Every name of one file (links included) gives the same identity.
struct HostFileId {
    uint64_t volume;
    uint64_t file;
};

inline bool operator==(const HostFileId& a, const HostFileId& b) {
    return a.volume == b.volume && a.file == b.file;
}

// Opens the file `name` in `folder` for binary reading, unbuffered (a file is read whole, in
// one read), and tells its length and identity. Only a regular file is opened, and opening
// never waits for a writer. Null with `error` set (an errno value: ENOENT when nothing stands
// under the name, EISDIR for a folder, ENODEV for anything else that is no regular file).
FILE* hostOpenToRead(const HostFolder& folder, const char* name, NameSource source, int64_t& size,
                     HostFileId& id, int& error);

// The identity of the file open as `stream`. False when it cannot be told.
bool hostStreamId(FILE* stream, HostFileId& id);

// The identity of the file that `path` names in `folder`, through symbolic links. False when
// nothing stands there.
bool hostPathId(const HostFolder& folder, const char* path, NameSource source, HostFileId& id);

// A regular file of a folder: its name as a directory entry's name is handed to the host
// (NameSource::DiskSet: the bytes on POSIX hosts, code page 932 on Windows; empty when that
// cannot hold it) and as text for messages (the bytes on POSIX hosts, UTF-8 on Windows).
struct FolderName {
    std::string name;
    std::string text;
};

// The regular files of `folder`, in no particular order. False with `error` set when it cannot
// be read.
bool hostListFolder(const HostFolder& folder, std::vector<FolderName>& names, int& error);
