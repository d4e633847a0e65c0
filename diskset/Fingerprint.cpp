#include "Fingerprint.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#if defined(__GLIBC__) && defined(__has_include)
#if __has_include(<sys/platform/x86.h>)
// What the C library found when the program started. The header is C: its _Bool is C++'s bool.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif
#endif
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define FINGERPRINT_HAS_AVX2 1
#define AVX2_CODE __attribute__((target("avx2")))
#endif

namespace {

// A stripe's eight words are each XORed with a key, the key's place moving by one word with each
// stripe of a block, so that where a stripe stands in its block counts.
constexpr size_t KEY_COUNT = FINGERPRINT_BLOCK_STRIPES + FINGERPRINT_LANES - 1;
struct Keys {
    uint64_t words[KEY_COUNT];
};

// Keys with their bits spread evenly: the values of the SplitMix64 sequence.
constexpr Keys makeKeys() {
    Keys keys{};
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (size_t i = 0; i < KEY_COUNT; ++i) {
        state += 0x9E3779B97F4A7C15ULL;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        keys.words[i] = z ^ (z >> 31);
    }
    return keys;
}
constexpr Keys KEYS = makeKeys();

constexpr uint64_t LOW_HALF = 0xffffffffULL;
constexpr uint64_t SCRAMBLE_PRIME = 0x9E3779B1ULL; // below 2^32: a 64 by 32-bit product
constexpr uint64_t PRIME1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t PRIME2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t PRIME3 = 0x165667B19E3779F9ULL;

// Every code mixes a stripe alike: lane k adds the product of the two halves of word k XORed
// with its key, and word k + 4 (mod 8) itself, so that a word whose product is zero still counts
// in full. At the end of a block, each lane is XORed with itself shifted and with its key, and
// multiplied by SCRAMBLE_PRIME, so that the order of the blocks counts. Each code takes the whole
// stripes of `bytes` (`length` of them), moves `stripe` on, and returns the bytes taken.
using AddStripes = size_t (*)(uint64_t* lanes, const uint8_t* bytes, size_t length,
                              size_t& stripeTaken);

uint64_t scrambledWord(uint64_t lane, uint64_t key) {
    return (lane ^ (lane >> 47) ^ key) * SCRAMBLE_PRIME;
}

size_t addStripesPortable(uint64_t* lanes, const uint8_t* bytes, size_t length,
                          size_t& stripeTaken) {
    size_t stripe = stripeTaken; // in a register: the bytes read may alias it
    size_t at = 0;
    for (; at + FINGERPRINT_STRIPE <= length; at += FINGERPRINT_STRIPE) {
        uint64_t words[FINGERPRINT_LANES];
        memcpy(words, bytes + at, sizeof words);
        const uint64_t* keys = KEYS.words + stripe;
        for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
            const uint64_t x = words[k] ^ keys[k];
            lanes[k] += (x & LOW_HALF) * (x >> 32) + words[(k + 4) % FINGERPRINT_LANES];
        }
        if (++stripe == FINGERPRINT_BLOCK_STRIPES) {
            stripe = 0;
            for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
                lanes[k] = scrambledWord(lanes[k], KEYS.words[k]);
            }
        }
    }
    stripeTaken = stripe;
    return at;
}

#if defined(__SSE2__)
__m128i load128(const void* at) {
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

// Two words mixed in: their keyed products and the other two words.
__m128i mixed128(__m128i words, const uint64_t* keys, __m128i other) {
    const __m128i x = _mm_xor_si128(words, load128(keys));
    return _mm_add_epi64(_mm_mul_epu32(x, _mm_srli_epi64(x, 32)), other);
}

__m128i scrambled128(__m128i lanes, const uint64_t* keys) {
    const __m128i x = _mm_xor_si128(_mm_xor_si128(lanes, _mm_srli_epi64(lanes, 47)), load128(keys));
    const __m128i prime = _mm_set1_epi64x(static_cast<long long>(SCRAMBLE_PRIME));
    return _mm_add_epi64(_mm_mul_epu32(x, prime),
                         _mm_slli_epi64(_mm_mul_epu32(_mm_srli_epi64(x, 32), prime), 32));
}

size_t addStripesSse2(uint64_t* lanes, const uint8_t* bytes, size_t length, size_t& stripeTaken) {
    size_t stripe = stripeTaken; // in a register: the bytes read may alias it
    __m128i a0 = load128(lanes);
    __m128i a1 = load128(lanes + 2);
    __m128i a2 = load128(lanes + 4);
    __m128i a3 = load128(lanes + 6);
    size_t at = 0;
    for (; at + FINGERPRINT_STRIPE <= length; at += FINGERPRINT_STRIPE) {
        const uint8_t* words = bytes + at;
        const uint64_t* keys = KEYS.words + stripe;
        const __m128i d0 = load128(words);
        const __m128i d1 = load128(words + 16);
        const __m128i d2 = load128(words + 32);
        const __m128i d3 = load128(words + 48);
        a0 = _mm_add_epi64(a0, mixed128(d0, keys, d2));
        a1 = _mm_add_epi64(a1, mixed128(d1, keys + 2, d3));
        a2 = _mm_add_epi64(a2, mixed128(d2, keys + 4, d0));
        a3 = _mm_add_epi64(a3, mixed128(d3, keys + 6, d1));
        if (++stripe == FINGERPRINT_BLOCK_STRIPES) {
            stripe = 0;
            a0 = scrambled128(a0, KEYS.words);
            a1 = scrambled128(a1, KEYS.words + 2);
            a2 = scrambled128(a2, KEYS.words + 4);
            a3 = scrambled128(a3, KEYS.words + 6);
        }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), a0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), a1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 4), a2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 6), a3);
    stripeTaken = stripe;
    return at;
}
#endif

#if defined(FINGERPRINT_HAS_AVX2)
AVX2_CODE __m256i load256(const void* at) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(at));
}

AVX2_CODE __m256i mixed256(__m256i words, const uint64_t* keys, __m256i other) {
    const __m256i x = _mm256_xor_si256(words, load256(keys));
    return _mm256_add_epi64(_mm256_mul_epu32(x, _mm256_srli_epi64(x, 32)), other);
}

AVX2_CODE __m256i scrambled256(__m256i lanes, const uint64_t* keys) {
    const __m256i x =
        _mm256_xor_si256(_mm256_xor_si256(lanes, _mm256_srli_epi64(lanes, 47)), load256(keys));
    const __m256i prime = _mm256_set1_epi64x(static_cast<long long>(SCRAMBLE_PRIME));
    return _mm256_add_epi64(
        _mm256_mul_epu32(x, prime),
        _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), prime), 32));
}

AVX2_CODE size_t addStripesAvx2(uint64_t* lanes, const uint8_t* bytes, size_t length,
                                size_t& stripeTaken) {
    size_t stripe = stripeTaken; // in a register: the bytes read may alias it
    __m256i low = load256(lanes);
    __m256i high = load256(lanes + 4);
    size_t at = 0;
    for (; at + FINGERPRINT_STRIPE <= length; at += FINGERPRINT_STRIPE) {
        const __m256i first = load256(bytes + at);
        const __m256i second = load256(bytes + at + 32);
        const uint64_t* keys = KEYS.words + stripe;
        low = _mm256_add_epi64(low, mixed256(first, keys, second));
        high = _mm256_add_epi64(high, mixed256(second, keys + 4, first));
        if (++stripe == FINGERPRINT_BLOCK_STRIPES) {
            stripe = 0;
            low = scrambled256(low, KEYS.words);
            high = scrambled256(high, KEYS.words + 4);
        }
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), low);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 4), high);
    stripeTaken = stripe;
    return at;
}
#endif

AddStripes stripesOf(FingerprintCode code) {
    switch (code) {
    case FingerprintCode::Avx2:
#if defined(FINGERPRINT_HAS_AVX2)
        return addStripesAvx2;
#else
        break;
#endif
    case FingerprintCode::Sse2:
#if defined(__SSE2__)
        return addStripesSse2;
#else
        break;
#endif
    case FingerprintCode::Portable:
        break;
    }
    return addStripesPortable;
}

// Zero bytes, for runs of them.
const uint8_t ZEROS[1024] = {};

// The 128-bit product of two words folded to 64 bits: its halves XORed.
uint64_t foldedProduct(uint64_t a, uint64_t b) {
#ifndef __SIZEOF_INT128__
#error "the fingerprint needs a 128-bit integer type"
#endif
    __extension__ typedef unsigned __int128 Wide;
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t rotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

uint64_t wordAt(const uint8_t* bytes) {
    uint64_t word;
    memcpy(&word, bytes, sizeof word);
    return word;
}

#if defined(FINGERPRINT_HAS_AVX2)
// True when the processor has AVX2 and the system keeps its registers. The C library tells, from
// what it asked when the program started; else the processor is asked the two questions that
// tell (a full survey takes many more, each slow in a virtual machine).
bool processorHasAvx2() {
#if defined(CPU_FEATURE_ACTIVE) // glibc 2.33 and later
    return CPU_FEATURE_ACTIVE(AVX2);
#else
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
        return false;
    }
    unsigned low = 0;
    unsigned high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const unsigned SSE_AND_AVX_STATE = 6; // XCR0 bits 1 and 2
    if ((low & SSE_AND_AVX_STATE) != SSE_AND_AVX_STATE ||
        __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
        return false;
    }
    return (b & bit_AVX2) != 0;
#endif
}
#endif

} // namespace

uint64_t fingerprintKey(size_t index) {
    return index < KEY_COUNT ? KEYS.words[index] : 0;
}

bool fingerprintCodeRuns(FingerprintCode code) {
    switch (code) {
    case FingerprintCode::Portable:
        return true;
    case FingerprintCode::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case FingerprintCode::Avx2:
#if defined(FINGERPRINT_HAS_AVX2)
        static const bool runs = processorHasAvx2();
        return runs;
#else
        return false;
#endif
    }
    return false;
}

FingerprintCode fastestFingerprintCode() {
    static const FingerprintCode fastest =
        fingerprintCodeRuns(FingerprintCode::Avx2)   ? FingerprintCode::Avx2
        : fingerprintCodeRuns(FingerprintCode::Sse2) ? FingerprintCode::Sse2
                                                     : FingerprintCode::Portable;
    return fastest;
}

void startFingerprint(Fingerprint& print, FingerprintCode code) {
    print =
        Fingerprint{{}, {}, 0, 0, 0, fingerprintCodeRuns(code) ? code : FingerprintCode::Portable};
    for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
        print.lanes[k] = KEYS.words[KEY_COUNT - 1 - k] ^ PRIME3;
    }
}

void addToFingerprint(Fingerprint& print, const uint8_t* bytes, size_t length) {
    const AddStripes addStripes = stripesOf(print.code);
    print.length += length;
    if (print.pendingBytes > 0) {
        const size_t taken = std::min(length, FINGERPRINT_STRIPE - print.pendingBytes);
        memcpy(print.pending + print.pendingBytes, bytes, taken);
        print.pendingBytes += taken;
        bytes += taken;
        length -= taken;
        if (print.pendingBytes < FINGERPRINT_STRIPE) {
            return;
        }
        addStripes(print.lanes, print.pending, FINGERPRINT_STRIPE, print.stripe);
        print.pendingBytes = 0;
    }
    const size_t taken = addStripes(print.lanes, bytes, length, print.stripe);
    if (taken < length) {
        memcpy(print.pending, bytes + taken, length - taken);
        print.pendingBytes = length - taken;
    }
}

void addZerosToFingerprint(Fingerprint& print, size_t count) {
    while (count > 0) {
        const size_t step = std::min(count, sizeof ZEROS);
        addToFingerprint(print, ZEROS, step);
        count -= step;
    }
}

uint64_t finishFingerprint(const Fingerprint& print) {
    // The lanes in turn, then the words and bytes left and the length, mixed into one value.
    uint64_t value = print.length ^ PRIME3;
    for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
        value = foldedProduct(value ^ print.lanes[k], PRIME1) + k;
    }
    size_t at = 0;
    for (; at + 8 <= print.pendingBytes; at += 8) {
        value = foldedProduct(value ^ wordAt(print.pending + at), PRIME2);
    }
    for (; at < print.pendingBytes; ++at) {
        value = rotateLeft(value ^ (print.pending[at] * PRIME3), 11) * PRIME1;
    }
    value ^= value >> 33;
    value *= PRIME2;
    value ^= value >> 29;
    value *= PRIME3;
    return value ^ (value >> 32);
}

uint64_t bytesFingerprint(const uint8_t* bytes, size_t length) {
    Fingerprint print;
    startFingerprint(print);
    addToFingerprint(print, bytes, length);
    return finishFingerprint(print);
}
