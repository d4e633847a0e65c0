// Zips read through libarchive (Debian's libarchive-dev): its seekable zip reader takes the
// members' names, sizes and flags from the zip's central directory, as unzip does.
#include "AnonymousFile.h"
#include "LibArchive.h"
#include "MemberOrder.h"
#include "UnpackedZip.h"

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

// A file member as the zip's directory declares it.
struct Declared {
    std::string name;
    int64_t size; // -1 when the directory gives none
    bool encrypted;
};

bool refuse(UnpackedZip& zip, ZipRefusal refusal, const std::string& member = "",
            int64_t bytes = 0) {
    zip.refusal = refusal;
    zip.member = member;
    zip.bytes = bytes;
    zip.members.clear();
    return false;
}

bool refuseAsUnreadable(UnpackedZip& zip, archive* reader) {
    const char* said = reader != nullptr ? libArchive().errorString(reader) : nullptr;
    zip.detail = said != nullptr ? said : "it is no zip the library reads";
    return refuse(zip, ZipRefusal::Unreadable);
}

// The zip read anew from its start. Null after a refusal.
ZipReader openZip(int fd, UnpackedZip& zip) {
    if (!libArchive().ready) {
        zip.detail = "libarchive, which reads zips, cannot be loaded";
        refuse(zip, ZipRefusal::Unreadable);
        return nullptr;
    }
    ZipReader reader(libArchive().readNew());
    if (!reader || lseek(fd, 0, SEEK_SET) != 0 ||
        libArchive().supportZipSeekable(reader.get()) != ARCHIVE_OK ||
        libArchive().openFd(reader.get(), fd, CHUNK) != ARCHIVE_OK) {
        refuseAsUnreadable(zip, reader.get());
        return nullptr;
    }
    return reader;
}

// The next member's header, false at the end or after a refusal (`ended` tells which).
bool nextMember(archive* reader, archive_entry*& entry, UnpackedZip& zip, bool& ended) {
    const int status = libArchive().nextHeader(reader, &entry);
    ended = status == ARCHIVE_EOF;
    if (status == ARCHIVE_OK || status == ARCHIVE_WARN) {
        return true; // a warning: a name the locale cannot show, which is kept as stored
    }
    if (!ended) {
        refuseAsUnreadable(zip, reader);
    }
    return false;
}

std::string memberName(archive_entry* entry) {
    const char* utf8 = libArchive().entryPathnameUtf8(entry);
    const char* stored = utf8 != nullptr ? utf8 : libArchive().entryPathname(entry);
    return stored != nullptr ? stored : "";
}

// Lists the file members without inflating any, and checks what they declare. False after a
// refusal.
bool declareMembers(int fd, int maxFiles, UnpackedZip& zip, std::vector<Declared>& files) {
    ZipReader reader = openZip(fd, zip);
    archive_entry* entry = nullptr;
    bool ended = false;
    int64_t count = 0;
    while (reader && nextMember(reader.get(), entry, zip, ended)) {
        const mode_t type = libArchive().entryFiletype(entry);
        if (type == AE_IFDIR) {
            continue;
        }
        if (type != AE_IFREG) {
            zip.notFiles.push_back(memberName(entry));
            continue;
        }
        if (++count <= maxFiles) { // beyond them only counted
            files.push_back(
                Declared{memberName(entry),
                         libArchive().entrySizeIsSet(entry) ? libArchive().entrySize(entry) : -1,
                         libArchive().entryIsEncrypted(entry) != 0});
        }
    }
    if (!ended) {
        return false;
    }
    if (count > maxFiles) {
        zip.count = count;
        return refuse(zip, ZipRefusal::TooManyFiles);
    }
    int64_t total = 0;
    for (const Declared& file : files) {
        if (file.encrypted) {
            return refuse(zip, ZipRefusal::Encrypted, file.name);
        }
        if (file.size < 0) {
            zip.detail = "it declares no size";
            return refuse(zip, ZipRefusal::Damaged, file.name);
        }
        if (file.size > MAX_MEMBER_BYTES) {
            return refuse(zip, ZipRefusal::MemberTooLarge, file.name, file.size);
        }
        total += file.size;
    }
    return total <= MAX_UNPACKED_BYTES || refuse(zip, ZipRefusal::TooLarge, "", total);
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

// Inflates the member at the reader into a new anonymous file, never past its declared size.
// False after a refusal.
bool unpackMember(archive* reader, const Declared& declared, UnpackedZip& zip) {
    std::string folder;
    const int fd = openAnonymousFile(folder);
    FILE* file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        zip.error = errno;
        zip.detail = folder;
        if (fd >= 0) {
            close(fd);
        }
        return refuse(zip, ZipRefusal::NoTemporaryFile, declared.name);
    }
    zip.members.push_back(UnpackedMember{declared.name, OwnedFile(file)});
    setvbuf(file, nullptr, _IONBF, 0); // the reader reads into its own blocks
    std::vector<char> chunk(CHUNK);
    int64_t inflated = 0;
    for (;;) {
        const la_ssize_t got = libArchive().readData(reader, chunk.data(), chunk.size());
        if (got < 0) {
            const char* said = libArchive().errorString(reader);
            zip.detail = said != nullptr ? said : "";
            return refuse(zip, ZipRefusal::Damaged, declared.name);
        }
        if (got == 0) {
            break;
        }
        inflated += got;
        if (inflated > declared.size) {
            return refuse(zip, ZipRefusal::InflatesPastSize, declared.name, declared.size);
        }
        if (!writeAll(fd, chunk.data(), static_cast<size_t>(got))) {
            zip.error = errno;
            zip.detail = folder;
            return refuse(zip, ZipRefusal::NoTemporaryFile, declared.name);
        }
    }
    if (inflated < declared.size) { // the library says so first
        zip.detail = "it inflates to fewer bytes than it declares";
        return refuse(zip, ZipRefusal::Damaged, declared.name);
    }
    return true;
}

// The zip read in the program's locale (see unpackZip).
UnpackedZip unpackInLocale(FILE* zipFile, int maxFiles) {
    UnpackedZip zip;
    const int fd = fileno(zipFile);
    uint8_t head[4] = {};
    if (pread(fd, head, sizeof head, 0) == 4 && head[0] == 'P' && head[1] == 'K' && head[2] == 5 &&
        head[3] == 6) {
        return zip; // an empty zip: its end record and nothing before it
    }
    std::vector<Declared> files;
    if (!declareMembers(fd, maxFiles, zip, files)) {
        return zip;
    }
    // The same members again, in the same order, now inflated.
    ZipReader reader = openZip(fd, zip);
    archive_entry* entry = nullptr;
    bool ended = false;
    size_t next = 0;
    while (reader && next < files.size() && nextMember(reader.get(), entry, zip, ended)) {
        if (libArchive().entryFiletype(entry) == AE_IFREG &&
            !unpackMember(reader.get(), files[next++], zip)) {
            return zip;
        }
    }
    if (next < files.size()) {
        if (zip.refusal == ZipRefusal::None) {
            refuse(zip, ZipRefusal::Unreadable); // the directory changed under the reader
            zip.detail = "its members changed while it was read";
        }
        return zip;
    }
    std::stable_sort(zip.members.begin(), zip.members.end(),
                     [](const UnpackedMember& a, const UnpackedMember& b) {
                         return memberComesBefore(a.name, b.name);
                     });
    return zip;
}

} // namespace

UnpackedZip unpackZip(FILE* zipFile, int maxFiles) {
    // libarchive gives a name that the zip marks as UTF-8 in the locale's character set, and in
    // the C locale (the programs never set one) no name at all when it is not ASCII: the zip is
    // read with a UTF-8 character set on this thread, so that every name comes as the zip
    // stores it, as the page reads it, and the members are ordered by it.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    const locale_t before = utf8 != static_cast<locale_t>(0) ? uselocale(utf8) : utf8;
    UnpackedZip zip = unpackInLocale(zipFile, maxFiles);
    if (utf8 != static_cast<locale_t>(0)) {
        uselocale(before);
        freelocale(utf8);
    }
    return zip;
}
