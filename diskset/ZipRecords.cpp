#include "ZipRecords.h"

namespace {

constexpr uint32_t LOCAL_HEADER = 0x04034b50;
constexpr uint32_t DIRECTORY_HEADER = 0x02014b50;
constexpr uint32_t END_RECORD = 0x06054b50;
constexpr uint32_t ZIP64_END_RECORD = 0x06064b50;
constexpr uint32_t ZIP64_LOCATOR = 0x07064b50;
constexpr uint32_t DESCRIPTOR = 0x08074b50;
constexpr uint32_t NOT_32_BITS = 0xFFFFFFFF; // the value is in the zip64 extra field
constexpr int ZIP64_EXTRA = 1;
constexpr int64_t END_RECORD_BYTES = 22;
constexpr int64_t LOCAL_HEADER_BYTES = 30;
constexpr int64_t DIRECTORY_HEADER_BYTES = 46;

uint64_t le(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}
uint32_t u16(const uint8_t* bytes) {
    return static_cast<uint32_t>(le(bytes, 2));
}
uint32_t u32(const uint8_t* bytes) {
    return static_cast<uint32_t>(le(bytes, 4));
}
int64_t u64(const uint8_t* bytes) {
    return static_cast<int64_t>(le(bytes, 8) & 0x7FFFFFFFFFFFFFFF);
}

// Reads `length` bytes at `position`, short where the zip ends.
std::vector<uint8_t> readAt(d88::D88Image& zip, int64_t position, int64_t length) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length > 0 && position >= 0 ? length : 0));
    const int64_t got =
        bytes.empty() ? 0
                      : zip.readBytes(position, bytes.data(), static_cast<int64_t>(bytes.size()));
    bytes.resize(static_cast<size_t>(got > 0 ? got : 0));
    return bytes;
}

// The values of the zip64 extra field in `extra` for the fields of `fields` that hold
// NOT_32_BITS, in their order. False when there is no such field. Also tells whether one is.
bool applyZip64(const uint8_t* extra, size_t length, int64_t* const* fields, int count,
                bool& present) {
    present = false;
    for (size_t at = 0; at + 4 <= length; at += 4 + u16(extra + at + 2)) {
        if (u16(extra + at) != ZIP64_EXTRA) {
            continue;
        }
        present = true;
        const size_t end = at + 4 + u16(extra + at + 2);
        size_t field = at + 4;
        for (int i = 0; i < count; ++i) {
            if (*fields[i] == NOT_32_BITS && field + 8 <= end && field + 8 <= length) {
                *fields[i] = u64(extra + field);
                field += 8;
            }
        }
        return true;
    }
    return false;
}

struct Descriptor {
    bool found;
    uint32_t crc32;
    int64_t compressedSize;
    int64_t size;
    int64_t length;
};

Descriptor parseDescriptor(const std::vector<uint8_t>& bytes, bool zip64, bool signature) {
    const size_t start = signature ? 4 : 0;
    const size_t length = start + (zip64 ? 20 : 12);
    if (bytes.size() < length || (signature && u32(bytes.data()) != DESCRIPTOR)) {
        return Descriptor{false, 0, 0, 0, 0};
    }
    const uint8_t* at = bytes.data() + start;
    return zip64
               ? Descriptor{true, u32(at), u64(at + 4), u64(at + 12), static_cast<int64_t>(length)}
               : Descriptor{true, u32(at), u32(at + 4), u32(at + 8), static_cast<int64_t>(length)};
}

// The data descriptor at `bytes`: of its four layouts, the first whose sizes are the
// directory's (one whose CRC-32 is too before the others), else the first that can be read
// with a signature, else without.
Descriptor readDescriptor(const std::vector<uint8_t>& bytes, bool zip64,
                          const ZipEntryFacts& entry) {
    const Descriptor layouts[] = {
        parseDescriptor(bytes, zip64, true), parseDescriptor(bytes, zip64, false),
        parseDescriptor(bytes, !zip64, true), parseDescriptor(bytes, !zip64, false)};
    const Descriptor* agreeing = nullptr;
    for (const Descriptor& layout : layouts) {
        if (layout.found && layout.compressedSize == entry.compressedSize &&
            layout.size == entry.size) {
            if (layout.crc32 == entry.crc32) {
                return layout;
            }
            agreeing = agreeing != nullptr ? agreeing : &layout;
        }
    }
    return agreeing != nullptr ? *agreeing : layouts[0].found ? layouts[0] : layouts[1];
}

// Where the central directory lies, from the end record (and the zip64 one).
bool findDirectory(d88::D88Image& zip, int64_t zipSize, int64_t& count, bool& zip64, int64_t& size,
                   int64_t& offset, std::string& detail) {
    const int64_t tailStart =
        zipSize > 65535 + END_RECORD_BYTES ? zipSize - 65535 - END_RECORD_BYTES : 0;
    const std::vector<uint8_t> tail = readAt(zip, tailStart, zipSize - tailStart);
    int64_t end = static_cast<int64_t>(tail.size()) - END_RECORD_BYTES;
    while (end >= 0 && u32(tail.data() + end) != END_RECORD) {
        --end;
    }
    if (end < 0) {
        detail = "it has no zip directory";
        return false;
    }
    const uint8_t* record = tail.data() + end;
    count = u16(record + 10);
    size = u32(record + 12);
    offset = u32(record + 16);
    if (end >= 20 && u32(record - 20) == ZIP64_LOCATOR) {
        const std::vector<uint8_t> record64 = readAt(zip, u64(record - 20 + 8), 56);
        if (record64.size() == 56 && u32(record64.data()) == ZIP64_END_RECORD) {
            zip64 = true;
            count = u64(record64.data() + 32);
            size = u64(record64.data() + 40);
            offset = u64(record64.data() + 48);
        }
    }
    if (offset + size > zipSize) {
        detail = "its directory lies past its end";
        return false;
    }
    if (size > MAX_ZIP_DIRECTORY_BYTES) {
        detail = "its directory takes " + std::to_string(size) + " bytes, more than is read";
        return false;
    }
    return true;
}

} // namespace

bool isZipFile(d88::D88Image& file) {
    uint8_t head[4] = {};
    const int64_t got = file.readBytes(0, head, sizeof head);
    if (!startsAsZip(head, static_cast<size_t>(got)) || file.looksLikeDiskAt(0)) {
        return false;
    }
    std::vector<ZipEntryFacts> entries;
    std::string detail;
    return readZipDirectory(file, entries, detail);
}

bool readZipDirectory(d88::D88Image& zip, std::vector<ZipEntryFacts>& entries,
                      std::string& detail) {
    const int64_t zipSize = zip.fileSize();
    int64_t count = 0;
    bool zip64 = false;
    int64_t size = 0;
    int64_t offset = 0;
    if (!findDirectory(zip, zipSize, count, zip64, size, offset, detail)) {
        return false;
    }
    const std::vector<uint8_t> directory = readAt(zip, offset, size);
    // The end record counts 16 bits: a zip of more members without zip64 records (as some
    // writers make them) wraps the count, and its directory holds the rest, read as zip.js
    // reads them.
    const auto holdsMore = [&](size_t at) {
        return !zip64 && at + DIRECTORY_HEADER_BYTES <= directory.size() &&
               u32(directory.data() + at) == DIRECTORY_HEADER;
    };
    size_t at = 0;
    for (int64_t i = 0; i < count || holdsMore(at); ++i) {
        const uint8_t* header = directory.data() + at;
        if (at + DIRECTORY_HEADER_BYTES > directory.size() || u32(header) != DIRECTORY_HEADER) {
            detail = "its directory lists " + std::to_string(count) + " members and holds " +
                     std::to_string(i);
            return false;
        }
        const size_t nameLength = u16(header + 28);
        const size_t extraLength = u16(header + 30);
        const size_t next =
            at + DIRECTORY_HEADER_BYTES + nameLength + extraLength + u16(header + 32);
        if (next > directory.size()) {
            detail = "its directory is cut short";
            return false;
        }
        const uint32_t flags = u16(header + 8);
        ZipEntryFacts entry{
            std::string(reinterpret_cast<const char*>(header) + DIRECTORY_HEADER_BYTES, nameLength),
            (flags & 0x800) != 0,
            static_cast<int>(u16(header + 4) >> 8),
            u32(header + 38),
            static_cast<int>(u16(header + 10)),
            (flags & 1) != 0,
            u32(header + 16),
            u32(header + 24),
            u32(header + 20),
            u32(header + 42)};
        int64_t* const fields[] = {&entry.size, &entry.compressedSize, &entry.offset};
        bool zip64 = false;
        applyZip64(header + DIRECTORY_HEADER_BYTES + nameLength, extraLength, fields, 3, zip64);
        entries.push_back(std::move(entry));
        at = next;
    }
    return true;
}

ZipLocalFacts readLocalFacts(d88::D88Image& zip, const ZipEntryFacts& entry) {
    ZipLocalFacts local{false, 0, 0, 0, -1, -1};
    const std::vector<uint8_t> header = readAt(zip, entry.offset, LOCAL_HEADER_BYTES);
    if (header.size() < LOCAL_HEADER_BYTES || u32(header.data()) != LOCAL_HEADER) {
        return local;
    }
    local.found = true;
    const int64_t nameLength = u16(header.data() + 26);
    const int64_t extraLength = u16(header.data() + 28);
    local.dataStart = entry.offset + LOCAL_HEADER_BYTES + nameLength + extraLength;
    local.crc32 = u32(header.data() + 14);
    local.compressedSize = u32(header.data() + 18);
    local.size = u32(header.data() + 22);
    const std::vector<uint8_t> extra =
        readAt(zip, entry.offset + LOCAL_HEADER_BYTES + nameLength, extraLength);
    int64_t* const fields[] = {&local.size, &local.compressedSize};
    bool zip64 = false;
    applyZip64(extra.data(), extra.size(), fields, 2, zip64);
    local.dataEnd = local.dataStart + entry.compressedSize;
    if ((u16(header.data() + 6) & 8) != 0) { // the sizes and CRC-32 follow the data
        const Descriptor descriptor = readDescriptor(readAt(zip, local.dataEnd, 24), zip64, entry);
        local.crc32 = descriptor.crc32;
        local.compressedSize = descriptor.found ? descriptor.compressedSize : -1;
        local.size = descriptor.found ? descriptor.size : -1;
        local.dataEnd += descriptor.length;
    }
    return local;
}
