#pragma once
#include <cstdint>

namespace hanamail {

class StringBuffer;

// The transfer coding of an entity's body as it is written.
class BodyEncoder {
public:
    BodyEncoder() = delete;

    // Appends the bytes in the named transfer encoding (case ignored):
    // base64 in lines of 72, quoted-printable, anything else unchanged.
    // False (and out marked) when out could not hold them.
    static bool append(const StringBuffer& transferEncoding, const unsigned char* bytes, uint32_t n, StringBuffer& out);
};

}  // namespace hanamail
