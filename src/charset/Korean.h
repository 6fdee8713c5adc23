#pragma once
#include <cstdint>

namespace hanamail {

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

    // Piecewise forms, as in Japanese: the encoder leaves a last byte that
    // starts a pair for the next piece (returns the bytes used) and writes the
    // designator before the first byte of a non-empty text; the decoder goes
    // on from i while two bytes of room are left and returns where it stopped.
    struct EncodeState {
        bool started = false;
        bool shifted = false;
        bool ok = true;
    };
    uint32_t ksToIso2022krPiece(const unsigned char* bytes, uint32_t n, bool final, EncodeState& state,
                                DataBuffer& out) const;
    uint32_t iso2022krToKsStep(const unsigned char* bytes, uint32_t i, uint32_t n, unsigned char*& d, uint32_t room,
                               bool& shifted) const;
};

}  // namespace hanamail
