// Zips unpacked through libarchive (Debian's libarchive-dev), as the zip policy decides from the
// zip's own records (ZipRecords.h): libarchive's seekable reader, which takes the members from
// the zip's central directory as unzip does, inflates them, and the CRC-32 of what it gives is
// checked here, as the page checks it.
#include "AnonymousFile.h"
#include "LibArchive.h"
#include "MemberOrder.h"
#include "UnpackedZip.h"
#include "ZipRecords.h"

#include "DigestCrc.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <clocale>
#include <unistd.h>

namespace {

constexpr size_t CHUNK = 65536; // read from the zip, and inflated, at a time

struct ArchiveFree {
    void operator()(archive* reader) const { libArchive().readFree(reader); }
};
using ZipReader = std::unique_ptr<archive, ArchiveFree>;

bool refuse(UnpackedZip& zip, const ZipVerdict& verdict,
            const std::vector<ZipEntryFacts>& entries) {
    zip.verdict = verdict;
    zip.member = verdict.member >= 0 ? entries[static_cast<size_t>(verdict.member)].name : "";
    zip.members.clear();
    zip.unpackedBytes = 0;
    return false;
}

ZipVerdict unreadable(const std::string& detail) {
    ZipVerdict verdict;
    verdict.refusal = ZipRefusal::Unreadable;
    verdict.detail = detail;
    return verdict;
}

ZipVerdict libraryFailure(archive* reader, int member) {
    ZipVerdict verdict;
    verdict.refusal = ZipRefusal::Damaged;
    verdict.damage = ZipDamage::Unpacking;
    verdict.member = member;
    const char* said = reader != nullptr ? libArchive().errorString(reader) : nullptr;
    verdict.detail = said != nullptr ? said : "libarchive cannot read it";
    return verdict;
}

// The zip read by libarchive from its start, its CRC-32 checks left to unpackMember. Null when
// it cannot be opened.
ZipReader openZip(int fd) {
    ZipReader reader(libArchive().readNew());
    if (!reader || lseek(fd, 0, SEEK_SET) != 0 ||
        libArchive().supportZipSeekable(reader.get()) != ARCHIVE_OK ||
        libArchive().setOptions(reader.get(), "zip:ignorecrc32") != ARCHIVE_OK ||
        libArchive().openFd(reader.get(), fd, CHUNK) != ARCHIVE_OK) {
        return nullptr;
    }
    return reader;
}

bool writeAll(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

ZipVerdict noTemporaryFile(int member, const std::string& folder) {
    ZipVerdict verdict;
    verdict.refusal = ZipRefusal::NoTemporaryFile;
    verdict.member = member;
    verdict.error = errno;
    verdict.detail = folder;
    return verdict;
}

// Inflates member `member` at the reader into a new anonymous file, never past its declared
// size, and checks what came out. Its refusal, None when it is kept.
ZipVerdict unpackMember(archive* reader, const std::vector<ZipEntryFacts>& entries, int member,
                        UnpackedZip& zip) {
    const ZipEntryFacts& entry = entries[static_cast<size_t>(member)];
    std::string folder;
    const int fd = openAnonymousFile(folder);
    FILE* file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        const ZipVerdict verdict = noTemporaryFile(member, folder);
        if (fd >= 0) {
            close(fd);
        }
        return verdict;
    }
    zip.members.push_back(UnpackedMember{entry.name, OwnedFile(file)});
    setvbuf(file, nullptr, _IONBF, 0); // the reader reads into its own blocks
    std::vector<char> chunk(CHUNK);
    int64_t inflated = 0;
    uint32_t crc = 0;
    for (;;) {
        const la_ssize_t got = libArchive().readData(reader, chunk.data(), chunk.size());
        if (got < 0) {
            return libraryFailure(reader, member);
        }
        if (got == 0 || inflated + got > entry.size) {
            inflated += got;
            break; // past its size: stopped here, and refused
        }
        inflated += got;
        crc = addToCrc32(crc, chunk.data(), static_cast<size_t>(got));
        if (!writeAll(fd, chunk.data(), static_cast<size_t>(got))) {
            return noTemporaryFile(member, folder);
        }
    }
    return checkUnpacked(entry, member, inflated, crc == entry.crc32);
}

// Unpacks the files that `plan` reads. libarchive lists every member in the order of their
// local headers in the zip, which is how they are matched with the directory's. False after a
// refusal.
bool unpackFiles(int fd, const std::vector<ZipEntryFacts>& entries, const ZipPlan& plan,
                 UnpackedZip& zip) {
    std::vector<int> byPlace(entries.size());
    for (size_t i = 0; i < byPlace.size(); ++i) {
        byPlace[i] = static_cast<int>(i);
    }
    std::stable_sort(byPlace.begin(), byPlace.end(), [&](int a, int b) {
        return entries[static_cast<size_t>(a)].offset < entries[static_cast<size_t>(b)].offset;
    });
    if (plan.files.empty()) {
        return true; // nothing to unpack: libarchive opens no empty zip
    }
    ZipReader reader = openZip(fd);
    if (!reader) {
        return refuse(zip, unreadable("libarchive cannot open it"), entries);
    }
    size_t unpacked = 0;
    for (const int member : byPlace) {
        if (unpacked == plan.files.size()) {
            break;
        }
        archive_entry* header = nullptr;
        const int status = libArchive().nextHeader(reader.get(), &header);
        const char* name = status == ARCHIVE_OK || status == ARCHIVE_WARN
                               ? libArchive().entryPathname(header)
                               : nullptr;
        if (name == nullptr) {
            return refuse(zip, libraryFailure(reader.get(), member), entries);
        }
        if (std::find(plan.files.begin(), plan.files.end(), member) == plan.files.end()) {
            continue; // a folder or a link
        }
        if (name != entries[static_cast<size_t>(member)].name) {
            return refuse(zip, unreadable("libarchive lists its members otherwise"), entries);
        }
        const ZipVerdict verdict = unpackMember(reader.get(), entries, member, zip);
        if (verdict.refusal != ZipRefusal::None) {
            return refuse(zip, verdict, entries);
        }
        ++unpacked;
    }
    return true;
}

// The zip read in the program's locale (see unpackZip).
UnpackedZip unpackInLocale(FILE* zipFile, const char* path, const ZipRunSoFar& run) {
    UnpackedZip zip{};
    std::vector<ZipEntryFacts> entries;
    if (!libArchive().ready) {
        refuse(zip, unreadable(libArchive().problem), entries);
        return zip;
    }
    const int fd = fileno(zipFile);
    d88::D88Image records; // the zip's own records, read before libarchive reads it
    std::string detail;
    if (!records.openStreams(&zipFile, 1)) {
        refuse(zip, unreadable("it cannot be read to its end"), entries);
        return zip;
    }
    if (!readZipDirectory(records, entries, detail)) {
        refuse(zip, unreadable(detail), entries);
        return zip;
    }
    const int64_t size = records.fileSize();
    const ZipPlan plan = planZip(entries, run);
    for (const int member : plan.notFiles) {
        zip.notFiles.push_back(entries[static_cast<size_t>(member)].name);
    }
    if (plan.verdict.refusal != ZipRefusal::None) {
        refuse(zip, plan.verdict, entries);
        return zip;
    }
    std::vector<ZipLocalFacts> locals;
    for (const int member : plan.files) {
        locals.push_back(readLocalFacts(records, entries[static_cast<size_t>(member)]));
    }
    records.close();
    const ZipVerdict local = checkLocalHeaders(entries, plan, locals, size);
    if (local.refusal != ZipRefusal::None) {
        refuse(zip, local, entries);
        return zip;
    }
    if (!unpackFiles(fd, entries, plan, zip)) {
        return zip;
    }
    zip.unpackedBytes = plan.unpackedBytes;
    const std::string zipPath = path;
    std::stable_sort(zip.members.begin(), zip.members.end(),
                     [&](const UnpackedMember& a, const UnpackedMember& b) {
                         return joinedNameComesBefore({a.name, zipPath + "/" + a.name},
                                                      {b.name, zipPath + "/" + b.name});
                     });
    return zip;
}

} // namespace

UnpackedZip unpackZip(FILE* zipFile, const char* path, const ZipRunSoFar& run) {
    // libarchive gives a name that the zip marks as UTF-8 in the locale's character set, and in
    // the C locale (the programs never set one) no name at all when it is not ASCII: the zip is
    // read with a UTF-8 character set on this thread, so that every name comes as the zip
    // stores it, the name that its directory gives.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    const locale_t before = utf8 != static_cast<locale_t>(0) ? uselocale(utf8) : utf8;
    UnpackedZip zip = unpackInLocale(zipFile, path, run);
    if (utf8 != static_cast<locale_t>(0)) {
        uselocale(before);
        freelocale(utf8);
    }
    return zip;
}
