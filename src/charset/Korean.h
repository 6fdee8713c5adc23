#pragma once
#include <cstdint>

class DataBuffer;

// Code page 949 <-> ISO-2022-KR (RFC 1557): the designator ESC $ ) C, then
// KS X 1001 pairs with the top bits cleared between SO and SI.
class Korean {
public:
    Korean() = default;
    virtual ~Korean() = default;

    // Appends ISO-2022-KR. Pairs outside KS X 1001 (the extended Hangul of
    // 949) and broken pairs are dropped; the result is false when anything was.
    bool ksToIso2022kr(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    // Appends code page 949.
    void iso2022krToKs(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
};
