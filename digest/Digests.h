// CRC-32, SHA-1 and SHA-256 of a stream of bytes, computed by the host's well-kept libraries:
// the CRC-32 from libdeflate on Linux and zlib on Windows, SHA-1 and SHA-256 from Nettle on
// Linux and Windows' CNG (bcrypt) on Windows.
// Nothing here is hand-written cryptography, and nothing here knows of disks or files.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SHA1_BYTES = 20;
constexpr int SHA256_BYTES = 32;

// Which digests a stream computes: any of these bits.
constexpr unsigned DIGEST_CRC32 = 1u;
constexpr unsigned DIGEST_SHA1 = 2u;
constexpr unsigned DIGEST_SHA256 = 4u;
constexpr unsigned DIGEST_ALL = DIGEST_CRC32 | DIGEST_SHA1 | DIGEST_SHA256;

// The digests of one stream; those not asked for are zero.
struct Digests {
    uint32_t crc32;
    uint8_t sha1[SHA1_BYTES];
    uint8_t sha256[SHA256_BYTES];
};

// A stream being digested: the CRC so far and the libraries' own states.
struct DigestStream {
    unsigned kinds;
    uint32_t crc32;
    void* sha1;   // the library's state, null when not asked for
    void* sha256; // the same
    bool failed;  // a library call failed: the stream yields no digests
};

// Starts digesting a stream. False when a library cannot start one (nothing is left to free).
bool startDigests(DigestStream& stream, unsigned kinds);
// Adds `length` bytes to the stream.
void addToDigests(DigestStream& stream, const void* bytes, size_t length);
// Ends the stream and frees what it held. False when a library call failed on the way.
bool finishDigests(DigestStream& stream, Digests& digests);

// Why SHA-1 and SHA-256 cannot be taken on this host ("libnettle.so.8, which computes SHA-1 and
// SHA-256, cannot be loaded: ..."), or null when they can. Loads the library when it is not yet.
const char* digestLibraryProblem();

// The digests of `length` bytes at once.
bool digestBytes(const void* bytes, size_t length, unsigned kinds, Digests& digests);
