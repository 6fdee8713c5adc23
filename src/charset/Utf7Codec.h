#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// UTF-7 (RFC 2152) <-> UTF-16LE.
class Utf7Codec {
public:
    // Writes letters, digits, '(),-./:? space, tab, CR and LF directly, "+" as
    // "+-", and everything else in modified base64 runs, each closed by "-".
    // A leading U+FEFF is dropped. False only for an odd n (last byte ignored).
    static bool encode(const unsigned char* utf16le, uint32_t n, DataBuffer& out);
    // Decodes into UTF-16LE and goes on after every fault; false when a byte
    // above 0x7F stands outside a run, a run ends with non-zero leftover bits,
    // or a run gives no character.
    static bool decode(const unsigned char* s, uint32_t n, DataBuffer& out);
};

}  // namespace hanamail
