#pragma once
#include "charset/EncodingBase.h"

namespace hanamail {

// UTF-8 codec. Surrogate code points are read and written in their 3-byte
// form (ED A0..ED BF) so unpaired units survive a round trip, and a 3-byte
// high + low pair written by others is read as the one character it stands for.
class EncodingUtf8 : public EncodingBase {
public:
    constexpr EncodingUtf8() = default;
    ~EncodingUtf8() override = default;

    // The process-wide instance.
    static const EncodingUtf8& instance();

    int decodeChar(ConvertState& state, const unsigned char* bytes, uint32_t count, uint32_t& codePoint) const override;
    int encodeChar(ConvertState& state, uint32_t codePoint, DataBuffer& out) const override;
    bool isMultiByte() const override { return true; }

    // The same without a state or buffer, for the conversion loops: decode
    // returns as decodeChar; encode writes 1 to 4 bytes at p and returns the count.
    static int decode(const unsigned char* bytes, uint32_t count, uint32_t& codePoint);
    static int encode(uint32_t codePoint, unsigned char* p);
};

}  // namespace hanamail
