#include "FileHashes.h"

#include "PlanJson.h"

#include <cstdio>

using json = nlohmann::ordered_json;

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

void addFileHashes(json& document, const std::vector<FileDigests>& digests) {
    json& entries = document["entries"];
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool taken = i < digests.size() && digests[i].taken;
        entries[i]["hashes"] = taken ? fileHashesJson(digests[i].digests) : json(nullptr);
    }
}

json diskHashesJson(const DiskDigests& digests) {
    if (!digests.taken) {
        return nullptr;
    }
    return json{{"stored", fileHashesJson(digests.stored)},
                {"content", json{{"sha256", hexText(digests.content.sha256, SHA256_BYTES)}}}};
}
