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

bool printFileSums(const SetPlan& plan, const std::vector<FileDigests>& digests, unsigned kind,
                   FILE* out) {
    bool all = true;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        if (!isWritten(entry.outcome) || entry.replacedBy >= 0) {
            continue;
        }
        if (i >= digests.size() || !digests[i].taken) {
            all = false;
            continue;
        }
        // The name as the folder holds it: Windows names files by their Unicode text.
        const SavedName& saved = entry.saved;
        bool escaped = false;
        const std::string name =
            escapedName(hostNamesAreUnicode() && saved.hasText ? saved.text : saved.name, escaped);
        const Digests& taken = digests[i].digests;
        const std::string digest = kind == DIGEST_SHA1 ? hexText(taken.sha1, SHA1_BYTES)
                                                       : hexText(taken.sha256, SHA256_BYTES);
        fprintf(out, "%s%s  ", escaped ? "\\" : "", digest.c_str());
        fwrite(name.data(), 1, name.size(), out);
        fputc('\n', out);
    }
    return all;
}
