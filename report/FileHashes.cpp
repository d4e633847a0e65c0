#include "FileHashes.h"

#include "DiskBytes.h"

#include <cstdio>

using json = nlohmann::ordered_json;

namespace {

void takeIntoDigests(const uint8_t* bytes, size_t length, void* context) {
    addToDigests(*static_cast<DigestStream*>(context), bytes, length);
}

// The digests of a disk stream; false when the disk or the library fails.
bool digestDiskStream(bool (*stream)(d88::D88Image&, int, const ByteSink&), d88::D88Image& image,
                      int disk, unsigned kinds, Digests& digests) {
    DigestStream digesting;
    if (!startDigests(digesting, kinds)) {
        return false;
    }
    const bool streamed = stream(image, disk, ByteSink{takeIntoDigests, &digesting});
    return finishDigests(digesting, digests) && streamed;
}

} // namespace

std::string crc32Hex(uint32_t crc) {
    char text[9];
    snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
    return text;
}

json fileHashesJson(const Digests& digests) {
    return json{{"crc32", crc32Hex(digests.crc32)},
                {"sha1", hexText(digests.sha1, SHA1_BYTES)},
                {"sha256", hexText(digests.sha256, SHA256_BYTES)}};
}

std::vector<json> plannedFileHashes(d88::D88Image& image, const SetPlan& plan,
                                    WalkBuffers& buffers) {
    std::vector<json> hashes;
    for (const PlannedEntry& entry : plan.entries) {
        Digests digests;
        if (isWritten(entry.outcome)) {
            readPlannedFile(image, entry, buffers);
            if (digestBytes(buffers.work, static_cast<size_t>(entry.entry.size), DIGEST_ALL,
                            digests)) {
                hashes.push_back(fileHashesJson(digests));
                continue;
            }
        }
        hashes.push_back(nullptr);
    }
    return hashes;
}

std::vector<std::string> plannedFileCrcs(d88::D88Image& image, const SetPlan& plan,
                                         WalkBuffers& buffers) {
    std::vector<std::string> crcs;
    for (const PlannedEntry& entry : plan.entries) {
        Digests digests;
        const bool written = isWritten(entry.outcome);
        if (written) {
            readPlannedFile(image, entry, buffers);
        }
        crcs.push_back(written && digestBytes(buffers.work, static_cast<size_t>(entry.entry.size),
                                              DIGEST_CRC32, digests)
                           ? crc32Hex(digests.crc32)
                           : std::string());
    }
    return crcs;
}

void digestWrittenFile(size_t position, const uint8_t* bytes, size_t length, void* context) {
    auto& files = *static_cast<std::vector<FileDigests>*>(context);
    if (position < files.size()) {
        files[position].taken = digestBytes(bytes, length, DIGEST_ALL, files[position].digests);
    }
}

std::vector<json> writtenFileHashes(const std::vector<FileDigests>& digests,
                                    const std::vector<FileResult>& results) {
    std::vector<json> hashes;
    for (size_t i = 0; i < results.size(); ++i) {
        const bool known = i < digests.size() && digests[i].taken;
        hashes.push_back(known && wasWritten(results[i]) ? fileHashesJson(digests[i].digests)
                                                         : json(nullptr));
    }
    return hashes;
}

void addFileHashes(json& document, std::vector<json> hashes) {
    json& entries = document["entries"];
    for (size_t i = 0; i < hashes.size() && i < entries.size(); ++i) {
        entries[i]["hashes"] = std::move(hashes[i]);
    }
}

json diskHashesJson(d88::D88Image& image, int disk) {
    Digests stored;
    Digests content;
    if (!digestDiskStream(streamStoredDisk, image, disk, DIGEST_ALL, stored) ||
        !digestDiskStream(streamDiskContent, image, disk, DIGEST_SHA256, content)) {
        return nullptr;
    }
    return json{{"stored", fileHashesJson(stored)},
                {"content", json{{"sha256", hexText(content.sha256, SHA256_BYTES)}}}};
}
