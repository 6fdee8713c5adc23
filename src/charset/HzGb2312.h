#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Code page 52936 (RFC 1843) <-> UTF-16LE: ASCII, and GB 2312 pairs with the
// top bits cleared between "~{" and "~}"; "~~" is a tilde and "~" before a
// line end joins the lines. Characters read as the 936 table reads them.
class HzGb2312 {
public:
    // Appends the UTF-16LE units. A stray "~", a byte above 0x7F or a pair
    // that is not GB 2312 is dropped a byte at a time and makes the result
    // false. A line end inside "~{" ends it, as writers are meant to.
    static bool decode(const unsigned char* bytes, uint32_t n, DataBuffer& out);
    // Appends HZ text that goes back to ASCII before every ASCII character
    // (line ends included) and at the end. A unit outside GB 2312 and ASCII is
    // dropped and makes the result false, as does a last odd byte.
    static bool encode(const unsigned char* utf16le, uint32_t n, DataBuffer& out);
};

}  // namespace hanamail
