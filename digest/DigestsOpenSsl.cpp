// The digest streams on Linux: SHA-1 and SHA-256 through OpenSSL's EVP interface. libcrypto is
// loaded from the system the first time a digest is asked for, so that a program that never
// hashes (an extraction without --json) neither maps it nor pays for starting it.
#include "DigestCrc.h"
#include "Digests.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <dlfcn.h>

#ifndef D88_LIBCRYPTO
#error "D88_LIBCRYPTO names the shared libcrypto to load"
#endif

namespace {

// The functions of libcrypto that the streams use, looked up once.
struct Crypto {
    bool ready;
    decltype(&EVP_MD_CTX_new) newContext;
    decltype(&EVP_MD_CTX_free) freeContext;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
    const EVP_MD* sha1;
    const EVP_MD* sha256;
};

template <typename Function> bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

Crypto loadCrypto() {
    Crypto crypto{};
    void* library = dlopen(D88_LIBCRYPTO, RTLD_NOW | RTLD_LOCAL);
    decltype(&OPENSSL_init_crypto) initCrypto = nullptr;
    decltype(&EVP_MD_fetch) fetch = nullptr;
    if (library == nullptr || !lookUp(library, "OPENSSL_init_crypto", initCrypto) ||
        !lookUp(library, "EVP_MD_fetch", fetch) ||
        !lookUp(library, "EVP_MD_CTX_new", crypto.newContext) ||
        !lookUp(library, "EVP_MD_CTX_free", crypto.freeContext) ||
        !lookUp(library, "EVP_DigestInit_ex", crypto.init) ||
        !lookUp(library, "EVP_DigestUpdate", crypto.update) ||
        !lookUp(library, "EVP_DigestFinal_ex", crypto.final)) {
        return crypto;
    }
    // The system's OpenSSL configuration is not read: plain digests need none, and reading it
    // costs more than digesting a set's files.
    if (initCrypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) {
        return crypto;
    }
    crypto.sha1 = fetch(nullptr, "SHA1", nullptr);
    crypto.sha256 = fetch(nullptr, "SHA256", nullptr);
    crypto.ready = crypto.sha1 != nullptr && crypto.sha256 != nullptr;
    return crypto;
}

const Crypto& crypto() {
    static const Crypto loaded = loadCrypto();
    return loaded;
}

EVP_MD_CTX* startOne(const EVP_MD* type, bool& failed) {
    EVP_MD_CTX* context = crypto().newContext();
    if (context == nullptr || crypto().init(context, type, nullptr) != 1) {
        failed = true;
    }
    return context;
}

void addOne(void* state, const void* bytes, size_t length, bool& failed) {
    if (state != nullptr && crypto().update(static_cast<EVP_MD_CTX*>(state), bytes, length) != 1) {
        failed = true;
    }
}

void finishOne(void* state, uint8_t* out, unsigned expected, bool& failed) {
    if (state == nullptr) {
        return;
    }
    auto* context = static_cast<EVP_MD_CTX*>(state);
    unsigned length = 0;
    if (!failed && (crypto().final(context, out, &length) != 1 || length != expected)) {
        failed = true;
    }
    crypto().freeContext(context);
}

} // namespace

bool startDigests(DigestStream& stream, unsigned kinds) {
    stream = DigestStream{kinds, 0, nullptr, nullptr, false};
    if ((kinds & (DIGEST_SHA1 | DIGEST_SHA256)) != 0 && !crypto().ready) {
        stream.failed = true;
        return false; // no libcrypto to digest with
    }
    if ((kinds & DIGEST_SHA1) != 0) {
        stream.sha1 = startOne(crypto().sha1, stream.failed);
    }
    if ((kinds & DIGEST_SHA256) != 0) {
        stream.sha256 = startOne(crypto().sha256, stream.failed);
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
