#include "GivenFiles.h"

#include "OpenFailure.h"

#include "DiskSet.h"
#include "Host.h"
#include "NoteText.h"
#include "ShownName.h"
#include "ZipPolicy.h"
#include "ZipRecords.h"
#include "ZipRefusalText.h"

#include "FileSeek.h"
#include "ImageFile.h"

#include <cerrno>
#include <cstring>

namespace {

// True when the file given as `file` is read as a zip (isZipFile). A file that does not start as
// a zip is none: it is told by its first bytes, without indexing it as an image.
bool isZip(FILE* file, d88::D88Image& checker) {
    uint8_t head[4] = {};
    const size_t got = d88::seekFile(file, 0, SEEK_SET) ? fread(head, 1, sizeof head, file) : 0;
    if (!d88::seekFile(file, 0, SEEK_SET) || !startsAsZip(head, got)) {
        return false;
    }
    const bool zip = checker.openStreams(&file, 1) && isZipFile(checker);
    checker.close();
    return zip;
}

// The first of `files` that is the file `identity`, -1 when none.
int sameFileIn(const std::vector<OwnedFile>& files, const FileIdentity& identity) {
    for (size_t i = 0; i < files.size(); ++i) {
        FileIdentity earlier{};
        if (hostFileIdentity(files[i].get(), earlier) && earlier == identity) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The member names `names`, shown on standard error, with ", " between them.
std::string listed(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ", ") + shownPath(name.c_str(), stderr);
    }
    return list;
}

// Says why the zip `path` is refused.
void printRefusal(const char* program, const char* path, const UnpackedZip& zip) {
    ZipVerdict verdict = zip.verdict;
    if (verdict.refusal == ZipRefusal::NoTemporaryFile) {
        verdict.detail = shownPath(verdict.detail.c_str(), stderr);
    }
    const std::string text = zipRefusalText(program, shownPath(path, stderr),
                                            shownPath(zip.member.c_str(), stderr), verdict);
    hostPrintfLocal(stderr, "%s: %s\n", program, text.c_str());
}

// Adds to `given` the members of `zip` that hold D88 disks, decided as the page decides the
// files it is given (a member that goes on with a disk that an earlier one starts is kept),
// and names the others. False after a message when none does.
bool keepDiskMembers(const char* program, const char* path, UnpackedZip& zip, GivenFiles& given,
                     d88::D88Image& checker) {
    std::vector<std::string> noDisk = zip.notFiles;
    std::vector<std::string> zipsInside;
    std::vector<UnpackedMember*> members;
    std::vector<d88::ByteSource> sources;
    for (UnpackedMember& member : zip.members) {
        members.push_back(&member);
        sources.push_back(d88::fileSource(member.file.get()));
    }
    JoinedFiles joined;
    if (!members.empty() && !decideJoinedFiles(checker, sources, joined)) {
        joined = JoinedFiles{};
        for (size_t i = 0; i < members.size(); ++i) {
            joined.leftOut.push_back(static_cast<int>(i)); // unreadable: none holds a disk
        }
    }
    checker.close();
    for (int kept : joined.kept) {
        UnpackedMember& member = *members[static_cast<size_t>(kept)];
        given.names.push_back(std::string(path) + "/" + member.name);
        given.files.push_back(std::move(member.file));
        given.sameFiles.push_back(-1); // a member is a file of its own
    }
    // A member left out that is a zip is a zip inside the zip; one that goes on with a disk
    // that an earlier member starts is kept, whatever its first bytes.
    for (int left : joined.leftOut) {
        UnpackedMember& member = *members[static_cast<size_t>(left)];
        (isZip(member.file.get(), checker) ? zipsInside : noDisk).push_back(member.name);
    }
    const size_t kept = joined.kept.size();
    const std::string shown = shownPath(path, stderr);
    if (kept == 0) {
        noDisk.insert(noDisk.end(), zipsInside.begin(), zipsInside.end());
        hostPrintfLocal(stderr, "%s: '%s' holds no D88 disk image: %s%s\n", program, shown.c_str(),
                        noDisk.empty() ? "it is empty" : "it holds ", listed(noDisk).c_str());
        return false;
    }
    if (!noDisk.empty()) {
        hostPrintfLocal(stderr, "%s: left out of '%s', as %s no D88 disk: %s\n", program,
                        shown.c_str(), noDisk.size() == 1 ? "it holds" : "they hold",
                        listed(noDisk).c_str());
    }
    if (!zipsInside.empty()) {
        hostPrintfLocal(stderr, "%s: left out of '%s', as a zip inside a zip is not unpacked: %s\n",
                        program, shown.c_str(), listed(zipsInside).c_str());
    }
    return true;
}

} // namespace

bool openGivenFiles(const char* program, std::vector<const char*>& paths, GivenFiles& given,
                    d88::D88Image& image, bool openImage) {
    d88::D88Image& checker = image; // its memory serves the image afterwards
    int64_t unpacked = 0; // what the members of the zips so far declare: one limit for the run
    int64_t zipFiles = 0; // the files unpacked from them
    for (size_t i = 0; i < paths.size(); ++i) {
        int64_t size = 0;
        OwnedFile file(d88::openImageFile(paths[i], size));
        if (!file) {
            printFileOpenFailure(program, paths[i], errno);
            return false;
        }
        FileIdentity identity{};
        const bool known = hostFileIdentity(file.get(), identity);
        if (known) {
            given.identities.push_back(identity);
        }
        // The same file given again, through this name or another, is read once.
        if (!isZip(file.get(), checker)) {
            given.sameFiles.push_back(known ? sameFileIn(given.files, identity) : -1);
            given.names.push_back(paths[i]);
            given.files.push_back(std::move(file));
            continue;
        }
        if (known && sameFileIn(given.zips, identity) >= 0) {
            hostPrintfLocal(stderr, "%s: %s\n", program,
                            givenAgainText("'" + shownPath(paths[i], stderr) + "'").c_str());
            given.zips.push_back(std::move(file));
            continue;
        }
        // The files given beside this zip, and those unpacked from the zips before it.
        const int64_t others = static_cast<int64_t>(paths.size()) - 1 -
                               static_cast<int64_t>(given.zips.size()) + zipFiles;
        UnpackedZip zip = unpackZip(file.get(), paths[i], ZipRunSoFar{others, unpacked});
        if (zip.verdict.refusal != ZipRefusal::None) {
            printRefusal(program, paths[i], zip);
            return false;
        }
        unpacked += zip.unpackedBytes;
        zipFiles += static_cast<int64_t>(zip.members.size());
        if (!keepDiskMembers(program, paths[i], zip, given, checker)) {
            return false;
        }
        given.zips.push_back(std::move(file));
    }
    paths.clear();
    for (const std::string& name : given.names) {
        paths.push_back(name.c_str());
    }
    return !openImage || openGivenImage(program, given, image);
}

bool openGivenImage(const char* program, const GivenFiles& given, d88::D88Image& image) {
    std::vector<FILE*> streams;
    for (const OwnedFile& file : given.files) {
        streams.push_back(file.get());
    }
    if (!image.openStreams(streams.data(), static_cast<int>(streams.size()))) {
        const std::string& name = given.names[static_cast<size_t>(image.failedPart())];
        printFileOpenFailure(program, name.c_str(), errno);
        return false;
    }
    return true;
}
