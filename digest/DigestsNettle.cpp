// The digest streams on Linux: SHA-1 and SHA-256 from Nettle, the cryptographic library under
// GnuTLS that every Debian and Ubuntu system carries. It is loaded from the system the first
// time a digest is asked for, so that a program that never hashes (an extraction without
// --json) does not map it; it needs no start-up of its own (libcrypto's took about 4 ms, as
// much as hashing a whole set's files).
#include "DigestCrc.h"
#include "Digests.h"

#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cstring>
#include <dlfcn.h>
#include <new>
#include <string>

#ifndef D88_LIBNETTLE
#error "D88_LIBNETTLE names the shared Nettle library to load"
#endif

namespace {

// The functions of Nettle that the streams use, looked up once.
struct Nettle {
    bool ready;
    std::string problem; // why it is not ready
    decltype(&nettle_sha1_init) sha1Init;
    decltype(&nettle_sha1_update) sha1Update;
    decltype(&nettle_sha1_digest) sha1Digest;
    decltype(&nettle_sha256_init) sha256Init;
    decltype(&nettle_sha256_update) sha256Update;
    decltype(&nettle_sha256_digest) sha256Digest;
};

template <typename Function> bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

Nettle loadNettle() {
    Nettle nettle{};
    void* library = dlopen(D88_LIBNETTLE, RTLD_NOW | RTLD_LOCAL);
    const char* error = library == nullptr ? dlerror() : nullptr;
    nettle.ready = library != nullptr && lookUp(library, "nettle_sha1_init", nettle.sha1Init) &&
                   lookUp(library, "nettle_sha1_update", nettle.sha1Update) &&
                   lookUp(library, "nettle_sha1_digest", nettle.sha1Digest) &&
                   lookUp(library, "nettle_sha256_init", nettle.sha256Init) &&
                   lookUp(library, "nettle_sha256_update", nettle.sha256Update) &&
                   lookUp(library, "nettle_sha256_digest", nettle.sha256Digest);
    if (!nettle.ready) {
        nettle.problem = std::string(D88_LIBNETTLE) +
                         ", which computes SHA-1 and SHA-256, cannot be loaded" +
                         (error != nullptr ? std::string(": ") + error : std::string());
    }
    return nettle;
}

const Nettle& nettle() {
    static const Nettle loaded = loadNettle();
    return loaded;
}

} // namespace

const char* digestLibraryProblem() {
    return nettle().ready ? nullptr : nettle().problem.c_str();
}

bool startDigests(DigestStream& stream, unsigned kinds) {
    stream = DigestStream{kinds, 0, nullptr, nullptr, false};
    if ((kinds & (DIGEST_SHA1 | DIGEST_SHA256)) != 0 && !nettle().ready) {
        stream.failed = true;
        return false; // no Nettle to digest with
    }
    if ((kinds & DIGEST_SHA1) != 0) {
        auto* state = new (std::nothrow) sha1_ctx;
        if (state != nullptr) {
            nettle().sha1Init(state);
        }
        stream.sha1 = state;
        stream.failed = stream.failed || state == nullptr;
    }
    if ((kinds & DIGEST_SHA256) != 0) {
        auto* state = new (std::nothrow) sha256_ctx;
        if (state != nullptr) {
            nettle().sha256Init(state);
        }
        stream.sha256 = state;
        stream.failed = stream.failed || state == nullptr;
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
    const auto* data = static_cast<const uint8_t*>(bytes);
    if ((stream.kinds & DIGEST_CRC32) != 0) {
        stream.crc32 = addToCrc32(stream.crc32, bytes, length);
    }
    if (stream.sha1 != nullptr) {
        nettle().sha1Update(static_cast<sha1_ctx*>(stream.sha1), length, data);
    }
    if (stream.sha256 != nullptr) {
        nettle().sha256Update(static_cast<sha256_ctx*>(stream.sha256), length, data);
    }
}

bool finishDigests(DigestStream& stream, Digests& digests) {
    memset(&digests, 0, sizeof digests);
    digests.crc32 = stream.crc32;
    auto* sha1 = static_cast<sha1_ctx*>(stream.sha1);
    auto* sha256 = static_cast<sha256_ctx*>(stream.sha256);
    if (!stream.failed && sha1 != nullptr) {
        nettle().sha1Digest(sha1, SHA1_BYTES, digests.sha1);
    }
    if (!stream.failed && sha256 != nullptr) {
        nettle().sha256Digest(sha256, SHA256_BYTES, digests.sha256);
    }
    delete sha1;
    delete sha256;
    stream.sha1 = stream.sha256 = nullptr;
    return !stream.failed;
}
