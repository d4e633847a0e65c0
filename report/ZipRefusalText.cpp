#include "ZipRefusalText.h"

#include "GroupedDigits.h"

#include "D88Format.h"

#include <cstring>

namespace {

std::string mebibytes(int64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// Why a member cannot be unpacked.
std::string damageText(const ZipVerdict& verdict) {
    switch (verdict.damage) {
    case ZipDamage::None:
    case ZipDamage::Unpacking:
        break;
    case ZipDamage::NoLocalHeader:
        return "no local header lies where the zip's directory puts it";
    case ZipDamage::PastEnd:
        return "its data runs past the end of the zip";
    case ZipDamage::SizesDiffer:
        if (verdict.localBytes < 0) {
            return "no data descriptor follows its data, where its local header leaves its sizes";
        }
        return "the zip's directory declares " + groupedDigits(verdict.bytes) + " bytes (" +
               groupedDigits(verdict.compressed) + " compressed), its local header " +
               groupedDigits(verdict.localBytes) + " (" + groupedDigits(verdict.localCompressed) +
               ")";
    case ZipDamage::CrcsDiffer:
        return "the zip's directory and its local header declare different CRC-32s";
    case ZipDamage::StoredSizesDiffer:
        return "it is stored with two different sizes";
    case ZipDamage::Overlap:
        return "its bytes lie over those of another member";
    case ZipDamage::InflatesShort:
        return "it inflates to fewer bytes than it declares";
    }
    return verdict.detail;
}

} // namespace

std::string zipRefusalText(const char* program, const std::string& zip, const std::string& member,
                           const ZipVerdict& verdict) {
    const std::string refused = "'" + zip + "' is refused: ";
    const std::string its = refused + "its member '" + member + "' ";
    switch (verdict.refusal) {
    case ZipRefusal::None:
        break;
    case ZipRefusal::NotUnpacked:
        return "'" + zip +
               "' is a zip, which this Windows build does not unpack: extract it first " +
               "(Explorer's Extract All) and give " + program + " the disk files it holds";
    case ZipRefusal::Unreadable:
        return "'" + zip + "' cannot be read as a zip: " + verdict.detail;
    case ZipRefusal::TooManyFiles:
        return "'" + zip + "' holds " + groupedDigits(verdict.count) + " files" +
               (verdict.others > 0 ? ", " + groupedDigits(verdict.count + verdict.others) +
                                         " in all with the other files given"
                                   : std::string()) +
               "; " + program + " reads at most " + std::to_string(d88::MAX_IMAGE_PARTS) +
               " files as one image";
    case ZipRefusal::Encrypted:
        return its + "is encrypted; unpack the zip with its password and give " + program +
               " the disk files";
    case ZipRefusal::Method:
        return its + "is compressed with method " + std::to_string(verdict.bytes) + ", which " +
               program + " does not unpack (it unpacks stored and deflated members)";
    case ZipRefusal::Damaged:
        return its + "cannot be unpacked: " + damageText(verdict);
    case ZipRefusal::MemberTooLarge:
        return its + "declares " + groupedDigits(verdict.bytes) + " bytes, more than the " +
               mebibytes(MAX_MEMBER_BYTES) + " that " + program + " unpacks from one member";
    case ZipRefusal::TooLarge:
        return refused + "its members declare " + groupedDigits(verdict.bytes) + " bytes together" +
               (verdict.before > 0 ? ", " + groupedDigits(verdict.bytes + verdict.before) +
                                         " with those of the zips before it"
                                   : std::string()) +
               ", more than the " + mebibytes(MAX_UNPACKED_BYTES) + " that " + program +
               " unpacks from the zips of one run";
    case ZipRefusal::InflatesPastSize:
        return its + "inflates to more than the " + groupedDigits(verdict.bytes) +
               " bytes it declares";
    case ZipRefusal::BadCrc:
        return its + "has a bad CRC: the bytes it unpacks to are not those that were zipped";
    case ZipRefusal::NoTemporaryFile:
        return "cannot unpack '" + zip + "' into a temporary file in '" + verdict.detail +
               "': " + strerror(verdict.error);
    }
    return std::string();
}
