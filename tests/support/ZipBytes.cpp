#include "ZipBytes.h"

#include <zlib.h>

namespace {

void put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

std::vector<uint8_t> deflateRaw(const std::vector<uint8_t>& bytes) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&stream, bytes.size()));
    stream.next_in = const_cast<uint8_t*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace

std::vector<uint8_t> zipBytes(const std::vector<ZipMember>& members) {
    std::vector<uint8_t> zip;
    std::vector<uint8_t> directory;
    for (const ZipMember& member : members) {
        std::vector<uint8_t> data = member.deflated ? deflateRaw(member.bytes) : member.bytes;
        if (member.encrypted) {
            data.insert(data.begin(), 12, 0xA5);
        }
        const uint64_t size = member.declaredSize >= 0 ? static_cast<uint64_t>(member.declaredSize)
                                                       : member.bytes.size();
        const bool zip64 = size >= 0xFFFFFFFFu;
        const uint32_t crc =
            member.crc >= 0 ? static_cast<uint32_t>(member.crc)
                            : static_cast<uint32_t>(crc32(0, member.bytes.data(),
                                                          static_cast<uInt>(member.bytes.size())));
        std::vector<uint8_t> extra; // zip64: the sizes that do not fit 32 bits
        if (zip64) {
            put(extra, 1, 2);
            put(extra, 16, 2);
            put(extra, size, 8);
            put(extra, data.size(), 8);
        }
        const uint64_t offset = zip.size();
        // The fields that the local header and the directory entry share, from the version, with
        // the size that each declares.
        const auto common = [&](int64_t declared) {
            const uint64_t own = declared >= 0 ? static_cast<uint64_t>(declared) : size;
            std::vector<uint8_t> fields;
            put(fields, zip64 ? 45 : 20, 2);
            put(fields, (member.encrypted ? 1 : 0) | (member.utf8 ? 0x800 : 0), 2);
            put(fields, member.method >= 0 ? member.method : member.deflated ? 8 : 0, 2);
            put(fields, 0x5A210000, 4); // 2025-01-01 00:00
            put(fields, crc, 4);
            put(fields, zip64 ? 0xFFFFFFFFu : data.size(), 4);
            put(fields, zip64 ? 0xFFFFFFFFu : own, 4);
            put(fields, member.name.size(), 2);
            put(fields, extra.size(), 2);
            return fields;
        };
        const std::vector<uint8_t> local = common(member.localSize);
        const std::vector<uint8_t> central = common(member.centralSize);
        put(zip, 0x04034b50, 4);
        zip.insert(zip.end(), local.begin(), local.end());
        zip.insert(zip.end(), member.name.begin(), member.name.end());
        zip.insert(zip.end(), extra.begin(), extra.end());
        zip.insert(zip.end(), data.begin(), data.end());
        put(directory, 0x02014b50, 4);
        put(directory, 0x031E, 2); // made by: Unix
        directory.insert(directory.end(), central.begin(), central.end());
        put(directory, 0, 2 + 2 + 2); // comment, disk, internal attributes
        put(directory, member.name.back() == '/' ? 0x41ED0010u : 0x81A40000u, 4);
        put(directory, offset, 4);
        directory.insert(directory.end(), member.name.begin(), member.name.end());
        directory.insert(directory.end(), extra.begin(), extra.end());
    }
    const uint64_t directoryAt = zip.size();
    const uint64_t count = members.size();
    zip.insert(zip.end(), directory.begin(), directory.end());
    if (count >= 0xFFFF) { // the count needs the zip64 end record and its locator
        const uint64_t recordAt = zip.size();
        put(zip, 0x06064b50, 4);
        put(zip, 44, 8);
        put(zip, 45, 2);
        put(zip, 45, 2);
        put(zip, 0, 4 + 4);
        put(zip, count, 8);
        put(zip, count, 8);
        put(zip, directory.size(), 8);
        put(zip, directoryAt, 8);
        put(zip, 0x07064b50, 4);
        put(zip, 0, 4);
        put(zip, recordAt, 8);
        put(zip, 1, 4);
    }
    put(zip, 0x06054b50, 4);
    put(zip, 0, 2 + 2);
    put(zip, count >= 0xFFFF ? 0xFFFF : count, 2);
    put(zip, count >= 0xFFFF ? 0xFFFF : count, 2);
    put(zip, directory.size(), 4);
    put(zip, directoryAt, 4);
    put(zip, 0, 2);
    return zip;
}
