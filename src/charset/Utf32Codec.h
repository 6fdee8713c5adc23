#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// UTF-32 in either byte order <-> UTF-8.
class Utf32Codec {
public:
    // Reads UTF-8 and appends one 32-bit value per character. The first
    // illegal or cut-off sequence ends the conversion with false; what came
    // before it stays. 3-byte surrogate forms are read as their code points
    // (a high + low pair as the one character).
    static bool fromUtf8(const unsigned char* s, uint32_t n, bool bigEndian, DataBuffer& out);
    // Appends the UTF-8 of each value. A value beyond U+10FFFF becomes U+FFFD
    // and a last group of fewer than four bytes is dropped; either makes it false.
    static bool toUtf8(const unsigned char* s, uint32_t n, bool bigEndian, DataBuffer& out);
};

}  // namespace hanamail
