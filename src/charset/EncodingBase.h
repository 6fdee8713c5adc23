#pragma once
#include <cstdint>

namespace hanamail {

class ConvertState;
class DataBuffer;

// A character codec: one character at a time between bytes and code points.
class EncodingBase {
public:
    // decodeChar results besides the number of bytes used.
    static constexpr int kInvalid = -1;
    static constexpr int kCutOff = -2;

    constexpr EncodingBase() = default;
    virtual ~EncodingBase() = default;

    // Decodes the character at the front of bytes (count > 0). Returns the
    // number of bytes used, kInvalid for an invalid sequence or kCutOff when
    // the input ends inside the sequence.
    virtual int decodeChar(ConvertState& state, const unsigned char* bytes, uint32_t count,
                           uint32_t& codePoint) const = 0;
    // Appends the bytes of one code point (a UTF-16 unit, a lone surrogate
    // included, or a character up to U+10FFFF); returns how many were appended.
    virtual int encodeChar(ConvertState& state, uint32_t codePoint, DataBuffer& out) const = 0;
    virtual bool isMultiByte() const = 0;
};

}  // namespace hanamail
