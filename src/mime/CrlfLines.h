#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Text lines end in CR LF (RFC 2045 section 2.10).
class CrlfLines {
public:
    CrlfLines() = delete;

    // Whether a CR or LF stands alone in the n bytes.
    static bool hasBareLineEnd(const unsigned char* bytes, uint32_t n);
    // The text with every bare LF, bare CR (and CR LF as it is) made CR LF,
    // appended to out; false when out could not hold it.
    [[nodiscard]] static bool append(const unsigned char* bytes, uint32_t n, DataBuffer& out);
};

}  // namespace hanamail
