#pragma once
#include <cstddef>
#include <cstdint>

namespace hanamail {

// The base64 alphabet work behind ContentCoding, on raw memory.
class Base64Codec {
public:
    // Vector paths on x86; the fastest one the processor has is the default.
    enum Path { kScalar = 0, kSsse3 = 1, kAvx2 = 2 };
    static Path fastestPath();

    // Characters of the padded text of n bytes.
    static constexpr uint64_t encodedLength(uint64_t n) { return (n + 2) / 3 * 4; }
    // Room decode needs for n characters (it may write up to 8 bytes past the result).
    static constexpr size_t decodedBound(size_t n) { return n / 4 * 3 + 12; }

    // Writes the padded base64 text of n bytes at d; returns the end.
    static char* encode(const unsigned char* s, size_t n, char* d);
    // The same, allowed to read up to readable (>= n) bytes from s for speed.
    static char* encode(const unsigned char* s, size_t n, size_t readable, char* d, Path path = fastestPath());
    // Decodes until "=", NUL or the end. CR, LF, tab and space are skipped;
    // other characters outside the alphabet are skipped too, or, when strict,
    // make the result false. Bits of an unfinished last byte are dropped.
    static bool decode(const unsigned char* s, size_t n, unsigned char* d, size_t& len, bool strict,
                       Path path = fastestPath());
};

}  // namespace hanamail
