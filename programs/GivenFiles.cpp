#include "GivenFiles.h"

#include "DiskSet.h"
#include "Host.h"
#include "ShownName.h"

#include "FileSeek.h"
#include "ImageFile.h"

#include <cerrno>
#include <cstring>

namespace {

// `number` with a comma between every three digits, as "100,000".
std::string withCommas(int64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > (number < 0 ? 1 : 0); at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}

// True when the file starts as a zip does. Reads its first bytes.
bool isZip(FILE* file) {
    uint8_t head[4] = {};
    const size_t got = d88::seekFile(file, 0, SEEK_SET) ? fread(head, 1, sizeof head, file) : 0;
    clearerr(file);
    return startsAsZip(head, got);
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
void printRefusal(const char* program, const std::string& path, const UnpackedZip& zip,
                  int64_t filesInAll) {
    const std::string member = shownPath(zip.member.c_str(), stderr);
    const char* zipName = path.c_str();
    switch (zip.refusal) {
    case ZipRefusal::None:
        break;
    case ZipRefusal::NotUnpacked:
        hostPrintfLocal(stderr,
                        "%s: '%s' is a zip, which this Windows build does not unpack: extract it "
                        "first (Explorer's Extract All) and give %s the disk files it holds\n",
                        program, zipName, program);
        break;
    case ZipRefusal::Unreadable:
        hostPrintfLocal(stderr, "%s: '%s' cannot be read as a zip: %s\n", program, zipName,
                        zip.detail.c_str());
        break;
    case ZipRefusal::TooManyFiles:
        hostPrintfLocal(stderr, "%s: '%s' holds %s files", program, zipName,
                        withCommas(zip.count).c_str());
        if (filesInAll > zip.count) {
            hostPrintf(stderr, ", %s in all with the other files given",
                       withCommas(filesInAll).c_str());
        }
        hostPrintf(stderr, "; %s reads at most %d files as one image\n", program,
                   d88::MAX_IMAGE_PARTS);
        break;
    case ZipRefusal::MemberTooLarge:
        hostPrintfLocal(stderr,
                        "%s: '%s' is refused: its member '%s' declares %s bytes, more than the "
                        "%lld MiB that %s unpacks from one member\n",
                        program, zipName, member.c_str(), withCommas(zip.bytes).c_str(),
                        static_cast<long long>(MAX_MEMBER_BYTES >> 20), program);
        break;
    case ZipRefusal::TooLarge:
        hostPrintfLocal(stderr,
                        "%s: '%s' is refused: its members declare %s bytes together, more than "
                        "the %lld MiB that %s unpacks from one zip\n",
                        program, zipName, withCommas(zip.bytes).c_str(),
                        static_cast<long long>(MAX_UNPACKED_BYTES >> 20), program);
        break;
    case ZipRefusal::Encrypted:
        hostPrintfLocal(stderr,
                        "%s: '%s' is refused: its member '%s' is encrypted; unpack the zip with "
                        "its password and give %s the disk files\n",
                        program, zipName, member.c_str(), program);
        break;
    case ZipRefusal::InflatesPastSize:
        hostPrintfLocal(stderr,
                        "%s: '%s' is refused: its member '%s' inflates to more than the %s bytes "
                        "it declares\n",
                        program, zipName, member.c_str(), withCommas(zip.bytes).c_str());
        break;
    case ZipRefusal::Damaged:
        hostPrintfLocal(stderr, "%s: '%s' is refused: its member '%s' cannot be unpacked: %s\n",
                        program, zipName, member.c_str(), zip.detail.c_str());
        break;
    case ZipRefusal::NoTemporaryFile:
        hostPrintfLocal(stderr, "%s: cannot unpack '%s' into a temporary file in '%s': %s\n",
                        program, zipName, shownPath(zip.detail.c_str(), stderr).c_str(),
                        strerror(zip.error));
        break;
    }
}

// Opens `checker` as the members of a zip that `kept` names, joined in that order.
struct MemberOpener {
    d88::D88Image& checker;
    const std::vector<FILE*>& streams;
    static bool open(const std::vector<int>& kept, void* context) {
        MemberOpener& opener = *static_cast<MemberOpener*>(context);
        std::vector<FILE*> chosen;
        for (int member : kept) {
            chosen.push_back(opener.streams[static_cast<size_t>(member)]);
        }
        return opener.checker.openStreams(chosen.data(), static_cast<int>(chosen.size()));
    }
};

// Adds to `given` the members of `zip` that hold D88 disks, decided as the page decides the
// files it is given (a member that goes on with a disk that an earlier one starts is kept),
// and names the others. False after a message when none does.
bool keepDiskMembers(const char* program, const char* path, UnpackedZip& zip, GivenFiles& given,
                     d88::D88Image& checker) {
    std::vector<std::string> noDisk = zip.notFiles;
    std::vector<std::string> zipsInside;
    std::vector<UnpackedMember*> members;
    std::vector<FILE*> streams;
    for (UnpackedMember& member : zip.members) {
        if (isZip(member.file.get())) {
            zipsInside.push_back(member.name);
        } else {
            members.push_back(&member);
            streams.push_back(member.file.get());
        }
    }
    JoinedFiles joined;
    MemberOpener opener{checker, streams};
    if (!members.empty() && !decideJoinedFiles(checker, static_cast<int>(members.size()),
                                               MemberOpener::open, &opener, joined)) {
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
    }
    for (int left : joined.leftOut) {
        noDisk.push_back(members[static_cast<size_t>(left)]->name);
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
                    d88::D88Image& image, void (*printOpenFailure)(const char* path, int error)) {
    d88::D88Image checker;
    for (size_t i = 0; i < paths.size(); ++i) {
        int64_t size = 0;
        OwnedFile file(d88::openImageFile(paths[i], size));
        if (!file) {
            printOpenFailure(paths[i], errno);
            return false;
        }
        FileIdentity identity{};
        if (hostFileIdentity(file.get(), identity)) {
            given.identities.push_back(identity);
        }
        if (!isZip(file.get())) {
            given.names.push_back(paths[i]);
            given.files.push_back(std::move(file));
            continue;
        }
        // Each file given after this one is one more file to read.
        const int64_t others = static_cast<int64_t>(given.files.size() + paths.size() - i - 1);
        UnpackedZip zip = unpackZip(file.get(), d88::MAX_IMAGE_PARTS - static_cast<int>(others));
        if (zip.refusal != ZipRefusal::None) {
            printRefusal(program, shownPath(paths[i], stderr), zip, others + zip.count);
            return false;
        }
        if (!keepDiskMembers(program, paths[i], zip, given, checker)) {
            return false;
        }
        given.zips.push_back(std::move(file));
    }
    std::vector<FILE*> streams;
    for (const OwnedFile& file : given.files) {
        streams.push_back(file.get());
    }
    paths.clear();
    for (const std::string& name : given.names) {
        paths.push_back(name.c_str());
    }
    if (!image.openStreams(streams.data(), static_cast<int>(streams.size()))) {
        printOpenFailure(paths[static_cast<size_t>(image.failedPart())], errno);
        return false;
    }
    return true;
}
