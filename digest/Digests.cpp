#include "Digests.h"

bool digestBytes(const void* bytes, size_t length, unsigned kinds, Digests& digests) {
    DigestStream stream;
    if (!startDigests(stream, kinds)) {
        return false;
    }
    addToDigests(stream, bytes, length);
    return finishDigests(stream, digests);
}
