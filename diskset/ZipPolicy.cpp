#include "ZipPolicy.h"

#include "ShiftJis.h"

#include <algorithm>

namespace {

constexpr int MADE_BY_UNIX = 3;
constexpr uint32_t UNIX_TYPE_MASK = 0170000;
constexpr uint32_t UNIX_FOLDER = 0040000;
constexpr uint32_t UNIX_FILE = 0100000;
constexpr uint32_t DOS_FOLDER = 0x10;

ZipVerdict refusal(ZipRefusal why, int member, int64_t bytes = 0) {
    ZipVerdict verdict;
    verdict.refusal = why;
    verdict.member = member;
    verdict.bytes = bytes;
    return verdict;
}

ZipVerdict damaged(ZipDamage why, int member) {
    ZipVerdict verdict = refusal(ZipRefusal::Damaged, member);
    verdict.damage = why;
    return verdict;
}

// What one file of the zip's directory refuses the zip for, in the order they are checked.
ZipVerdict checkDeclared(const ZipEntryFacts& entry, int member) {
    if (entry.encrypted) {
        return refusal(ZipRefusal::Encrypted, member);
    }
    if (entry.method != ZIP_STORED && entry.method != ZIP_DEFLATED) {
        return refusal(ZipRefusal::Method, member, entry.method);
    }
    if (entry.size > MAX_MEMBER_BYTES) {
        return refusal(ZipRefusal::MemberTooLarge, member, entry.size);
    }
    if (entry.method == ZIP_STORED && entry.compressedSize != entry.size) {
        return damaged(ZipDamage::StoredSizesDiffer, member);
    }
    return ZipVerdict{};
}

ZipVerdict checkLocal(const ZipEntryFacts& entry, int member, const ZipLocalFacts& local,
                      int64_t zipSize) {
    if (!local.found) {
        return damaged(ZipDamage::NoLocalHeader, member);
    }
    if (local.size != entry.size || local.compressedSize != entry.compressedSize) {
        ZipVerdict verdict = damaged(ZipDamage::SizesDiffer, member);
        verdict.bytes = entry.size;
        verdict.compressed = entry.compressedSize;
        verdict.localBytes = local.size;
        verdict.localCompressed = local.compressedSize;
        return verdict;
    }
    if (local.crc32 != entry.crc32) {
        return damaged(ZipDamage::CrcsDiffer, member);
    }
    if (local.dataStart + entry.compressedSize > zipSize || local.dataEnd > zipSize) {
        return damaged(ZipDamage::PastEnd, member);
    }
    return ZipVerdict{};
}

bool isValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        const unsigned char second =
            length > 1 ? static_cast<unsigned char>(text[i + 1]) : static_cast<unsigned char>(0x80);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
            return false; // overlong, a surrogate, or past U+10FFFF
        }
        i += length;
    }
    return true;
}

} // namespace

ZipMemberKind memberKind(const ZipEntryFacts& entry) {
    if (!entry.name.empty() && entry.name.back() == '/') {
        return ZipMemberKind::Folder;
    }
    const uint32_t mode = entry.attributes >> 16;
    if (entry.madeBy == MADE_BY_UNIX && mode != 0) {
        const uint32_t type = mode & UNIX_TYPE_MASK;
        return type == UNIX_FOLDER              ? ZipMemberKind::Folder
               : type == UNIX_FILE || type == 0 ? ZipMemberKind::File
                                                : ZipMemberKind::NotFile;
    }
    return (entry.attributes & DOS_FOLDER) != 0 ? ZipMemberKind::Folder : ZipMemberKind::File;
}

ZipPlan planZip(const std::vector<ZipEntryFacts>& entries, const ZipRunSoFar& run) {
    ZipPlan plan{};
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipMemberKind kind = memberKind(entries[i]);
        if (kind == ZipMemberKind::File) {
            plan.files.push_back(static_cast<int>(i));
        } else if (kind == ZipMemberKind::NotFile) {
            plan.notFiles.push_back(static_cast<int>(i));
        }
    }
    const int64_t count = static_cast<int64_t>(plan.files.size());
    if (count + run.otherFiles > d88::MAX_IMAGE_PARTS) {
        plan.verdict = refusal(ZipRefusal::TooManyFiles, -1);
        plan.verdict.count = count;
        plan.verdict.others = run.otherFiles;
    }
    for (size_t i = 0; plan.verdict.refusal == ZipRefusal::None && i < plan.files.size(); ++i) {
        const int member = plan.files[i];
        plan.verdict = checkDeclared(entries[static_cast<size_t>(member)], member);
        plan.unpackedBytes += entries[static_cast<size_t>(member)].size;
    }
    if (plan.verdict.refusal == ZipRefusal::None &&
        run.unpackedBefore + plan.unpackedBytes > MAX_UNPACKED_BYTES) {
        plan.verdict = refusal(ZipRefusal::TooLarge, -1, plan.unpackedBytes);
        plan.verdict.before = run.unpackedBefore;
    }
    if (plan.verdict.refusal != ZipRefusal::None) {
        plan.files.clear();
        plan.unpackedBytes = 0;
    }
    return plan;
}

ZipVerdict checkLocalHeaders(const std::vector<ZipEntryFacts>& entries, const ZipPlan& plan,
                             const std::vector<ZipLocalFacts>& locals, int64_t zipSize) {
    if (locals.size() != plan.files.size()) {
        return damaged(ZipDamage::NoLocalHeader, plan.files.empty() ? -1 : plan.files[0]);
    }
    for (size_t i = 0; i < plan.files.size(); ++i) {
        const int member = plan.files[i];
        const ZipVerdict verdict =
            checkLocal(entries[static_cast<size_t>(member)], member, locals[i], zipSize);
        if (verdict.refusal != ZipRefusal::None) {
            return verdict;
        }
    }
    // Each member's bytes, from its local header to the end of its data, lie apart from the
    // others': the first (in the zip's order) whose bytes lie over an earlier one's is named.
    std::vector<size_t> byStart(plan.files.size());
    for (size_t i = 0; i < byStart.size(); ++i) {
        byStart[i] = i;
    }
    std::stable_sort(byStart.begin(), byStart.end(), [&](size_t a, size_t b) {
        return entries[static_cast<size_t>(plan.files[a])].offset <
               entries[static_cast<size_t>(plan.files[b])].offset;
    });
    size_t overlapping = plan.files.size();
    int64_t reached = -1; // the furthest end of the members that start before
    for (size_t k = 0; k < byStart.size(); ++k) {
        const size_t at = byStart[k];
        if (entries[static_cast<size_t>(plan.files[at])].offset < reached) {
            overlapping = std::min(overlapping, at);
        }
        reached = std::max(reached, locals[at].dataEnd);
    }
    return overlapping < plan.files.size() ? damaged(ZipDamage::Overlap, plan.files[overlapping])
                                           : ZipVerdict{};
}

ZipVerdict checkUnpacked(const ZipEntryFacts& entry, int member, int64_t bytes, bool crcMatches) {
    if (bytes > entry.size) {
        return refusal(ZipRefusal::InflatesPastSize, member, entry.size);
    }
    if (bytes < entry.size) {
        return damaged(ZipDamage::InflatesShort, member);
    }
    return crcMatches ? ZipVerdict{} : refusal(ZipRefusal::BadCrc, member);
}

bool startsAsZip(const uint8_t* head, size_t length) {
    return length >= 4 && head[0] == 'P' && head[1] == 'K' &&
           ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6));
}

std::string memberShownName(const ZipEntryFacts& entry) {
    std::string text;
    if (isValidUtf8(entry.name)) {
        return entry.name;
    }
    if (!entry.utf8 && shiftJisToUtf8(entry.name.data(), entry.name.size(), text)) {
        return text;
    }
    static const char HEX[] = "0123456789abcdef";
    std::string shown;
    for (const char c : entry.name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            shown += c;
        } else {
            shown += {'\\', 'x', HEX[byte >> 4], HEX[byte & 15]};
        }
    }
    return shown;
}
