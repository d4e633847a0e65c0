#include "SumsText.h"

#include "Digests.h"
#include "Host.h"
#include "PlanJson.h"

#include <string>

namespace {

// The name as a checker reads it back, and whether the line must say that it is escaped.
std::string escapedName(const std::string& name, bool& escaped) {
    std::string text;
    escaped = false;
    for (const char c : name) {
        const char* escape = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (escape != nullptr) {
            text += escape;
            escaped = true;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace

bool printFileSums(d88::D88Image& image, const SetPlan& plan, WalkBuffers& buffers, unsigned kind,
                   FILE* out) {
    bool all = true;
    for (const PlannedEntry& entry : plan.entries) {
        if (!isWritten(entry.outcome) || entry.replacedBy >= 0) {
            continue;
        }
        readPlannedFile(image, entry, buffers);
        Digests digests;
        if (!digestBytes(buffers.work, static_cast<size_t>(entry.entry.size), kind, digests)) {
            all = false;
            continue;
        }
        // The name as the folder holds it: Windows names files by their Unicode text.
        const SavedName& saved = entry.saved;
        bool escaped = false;
        const std::string name =
            escapedName(hostNamesAreUnicode() && saved.hasText ? saved.text : saved.name, escaped);
        const std::string digest = kind == DIGEST_SHA1 ? hexText(digests.sha1, SHA1_BYTES)
                                                       : hexText(digests.sha256, SHA256_BYTES);
        fprintf(out, "%s%s  ", escaped ? "\\" : "", digest.c_str());
        fwrite(name.data(), 1, name.size(), out);
        fputc('\n', out);
    }
    return all;
}
