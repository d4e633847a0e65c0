// The digest streams on Windows: its own cryptography API (CNG, bcrypt.dll) for SHA-1 and
// SHA-256.
#include "DigestCrc.h"
#include "Digests.h"

#include <windows.h>

#include <bcrypt.h>
#include <cstring>

namespace {

// The provider of one algorithm, opened once and kept for the process.
BCRYPT_ALG_HANDLE provider(LPCWSTR algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) {
        return nullptr;
    }
    return handle;
}

BCRYPT_ALG_HANDLE sha1Provider() {
    static const BCRYPT_ALG_HANDLE handle = provider(BCRYPT_SHA1_ALGORITHM);
    return handle;
}

BCRYPT_ALG_HANDLE sha256Provider() {
    static const BCRYPT_ALG_HANDLE handle = provider(BCRYPT_SHA256_ALGORITHM);
    return handle;
}

void* startOne(BCRYPT_ALG_HANDLE algorithm, bool& failed) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No object buffer: CNG keeps the hash's state itself.
    if (algorithm == nullptr ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        failed = true;
        return nullptr;
    }
    return hash;
}

void addOne(void* state, const void* bytes, size_t length, bool& failed) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(bytes));
    while (state != nullptr && length > 0 && !failed) {
        const ULONG step = length < 0x40000000u ? static_cast<ULONG>(length) : 0x40000000u;
        if (!BCRYPT_SUCCESS(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state), p, step, 0))) {
            failed = true;
        }
        p += step;
        length -= step;
    }
}

void finishOne(void* state, uint8_t* out, ULONG length, bool& failed) {
    if (state == nullptr) {
        return;
    }
    auto* hash = static_cast<BCRYPT_HASH_HANDLE>(state);
    if (!failed && !BCRYPT_SUCCESS(BCryptFinishHash(hash, out, length, 0))) {
        failed = true;
    }
    BCryptDestroyHash(hash);
}

} // namespace

const char* digestLibraryProblem() {
    // CNG is part of every Windows; its providers are opened with the first stream.
    return nullptr;
}

bool startDigests(DigestStream& stream, unsigned kinds) {
    stream = DigestStream{kinds, 0, nullptr, nullptr, false};
    if ((kinds & DIGEST_SHA1) != 0) {
        stream.sha1 = startOne(sha1Provider(), stream.failed);
    }
    if ((kinds & DIGEST_SHA256) != 0) {
        stream.sha256 = startOne(sha256Provider(), stream.failed);
    }
    if (stream.failed) {
        Digests unused;
        finishDigests(stream, unused);
        return false;
    }
    return true;
}

void addToDigests(DigestStream& stream, const void* bytes, size_t length) {
    if (stream.failed || length == 0) {
        return;
    }
    if ((stream.kinds & DIGEST_CRC32) != 0) {
        stream.crc32 = addToCrc32(stream.crc32, bytes, length);
    }
    addOne(stream.sha1, bytes, length, stream.failed);
    addOne(stream.sha256, bytes, length, stream.failed);
}

bool finishDigests(DigestStream& stream, Digests& digests) {
    memset(&digests, 0, sizeof digests);
    digests.crc32 = stream.crc32;
    finishOne(stream.sha1, digests.sha1, SHA1_BYTES, stream.failed);
    finishOne(stream.sha256, digests.sha256, SHA256_BYTES, stream.failed);
    stream.sha1 = stream.sha256 = nullptr;
    return !stream.failed;
}
