#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Code page 54936 <-> UTF-16LE. Single bytes are ASCII; two-byte codes are
// those of the 936 table with a few characters of their own; every other
// character, up to U+10FFFF, has a four-byte code (digit, byte, digit, byte)
// that is computed from its number, not looked up.
class Gb18030 {
public:
    // Appends the UTF-16LE units of the text. A byte that starts no character
    // (a broken or cut-off code) is dropped alone and makes the result false.
    static bool decode(const unsigned char* bytes, uint32_t n, DataBuffer& out);
    // Appends the gb18030 bytes of UTF-16LE text. A surrogate without its
    // partner is dropped and a last odd byte ignored; either makes it false.
    static bool encode(const unsigned char* utf16le, uint32_t n, DataBuffer& out);

    // The four bytes of a character's number, and the number of four bytes
    // (false when they are not a four-byte code).
    static void fourBytes(uint32_t number, unsigned char* d);
    static bool fourByteNumber(const unsigned char* p, uint32_t& number);
};

}  // namespace hanamail
