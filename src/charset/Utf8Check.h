#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hanamail {

class DataBuffer;

// Well-formed UTF-8 as the Unicode standard defines it: no overlong forms,
// no surrogate code points (ED A0 80 and the like), nothing beyond U+10FFFF.
// The conversion engine reads more leniently; text that enters the system
// as UTF-8 is checked with these rules first.
namespace utf8check {

// The offset of the first byte of the first ill-formed sequence, or n.
uint32_t firstInvalid(const unsigned char* bytes, uint32_t n);

inline bool isValid(const unsigned char* bytes, uint32_t n)
{
    return firstInvalid(bytes, n) == n;
}

// Appends the bytes to out with each ill-formed sequence (its maximal part
// that could begin a character, or a single byte) replaced by U+FFFD, the
// practice the Unicode standard recommends. The offsets of the replaced
// sequences go to offsets, at most maxOffsets of them; the result is how many
// were replaced. out.hasFailed() tells a failed append.
uint32_t appendRepaired(const unsigned char* bytes, uint32_t n, DataBuffer& out, std::vector<uint32_t>& offsets,
                        size_t maxOffsets);

}  // namespace utf8check

}  // namespace hanamail
