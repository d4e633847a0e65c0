// A 64-bit fingerprint of a run of bytes: what the bytes of a file are checked by once they are no
// longer at hand (the read-back check of putting files back). Two different runs of bytes give
// one fingerprint only by a rare chance: a fault in writing or placing bytes (a bit, a word, a
// sector moved, doubled or lost) is told. Its keys are no secret, so bytes made on purpose to
// collide can; it is only ever compared within one run of a program.
#pragma once

#include <cstddef>
#include <cstdint>

// The code that mixes the bytes in: the same values from each, as fast as the processor allows.
enum class FingerprintCode {
    Portable, // plain C++
    Sse2,     // 16 bytes at a time (x86)
    Avx2,     // 32 bytes at a time (x86 processors that have it)
};

// The fastest code that this processor runs.
FingerprintCode fastestFingerprintCode();

// True when this build and processor run `code`.
bool fingerprintCodeRuns(FingerprintCode code);

// The fingerprint of `length` bytes.
uint64_t bytesFingerprint(const uint8_t* bytes, size_t length);

// The same taken piece by piece: the pieces added in turn give the fingerprint of them joined.
// The bytes are mixed in by stripes of 64 into eight lanes; every 16 stripes (a block), each lane
// is scrambled.
constexpr size_t FINGERPRINT_LANES = 8;
constexpr size_t FINGERPRINT_STRIPE = 8 * FINGERPRINT_LANES;
constexpr size_t FINGERPRINT_BLOCK_STRIPES = 16;
struct Fingerprint {
    uint64_t lanes[FINGERPRINT_LANES];
    uint8_t pending[FINGERPRINT_STRIPE]; // bytes not mixed in yet
    size_t pendingBytes;
    size_t stripe; // of the block, the next one mixed in
    uint64_t length;
    FingerprintCode code;
};
// Key `index` of those that the words of a block's stripes are XORed with (stripe s, word k:
// key s + k), for checks of the mix.
uint64_t fingerprintKey(size_t index);

void startFingerprint(Fingerprint& print, FingerprintCode code = fastestFingerprintCode());
void addToFingerprint(Fingerprint& print, const uint8_t* bytes, size_t length);
void addZerosToFingerprint(Fingerprint& print, size_t count);
uint64_t finishFingerprint(const Fingerprint& print);
