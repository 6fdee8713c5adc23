#include "charset/EncodingUtf8.h"

#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

// Constant-initialised: usable from any static constructor.
constinit const EncodingUtf8 g_utf8;

inline bool isCont(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Length and legality of the sequence at bytes without the CESU pairing.
int decodeOne(const unsigned char* b, uint32_t count, uint32_t& cp)
{
    const unsigned char c = b[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c < 0xC2 || c > 0xF4) return EncodingBase::kInvalid;
    int len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c < 0xE0) {
        len = 2;
    } else if (c < 0xF0) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
    } else {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    }
    // An illegal byte among those present makes it invalid even when cut off.
    const uint32_t have = count < static_cast<uint32_t>(len) ? count : static_cast<uint32_t>(len);
    if (have > 1 && (b[1] < lo || b[1] > hi)) return EncodingBase::kInvalid;
    for (uint32_t k = 2; k < have; ++k) {
        if (!isCont(b[k])) return EncodingBase::kInvalid;
    }
    if (have < static_cast<uint32_t>(len)) return EncodingBase::kCutOff;
    switch (len) {
        case 2: cp = (uint32_t(c & 0x1F) << 6) | (b[1] & 0x3F); break;
        case 3: cp = (uint32_t(c & 0x0F) << 12) | (uint32_t(b[1] & 0x3F) << 6) | (b[2] & 0x3F); break;
        default:
            cp = (uint32_t(c & 0x07) << 18) | (uint32_t(b[1] & 0x3F) << 12) | (uint32_t(b[2] & 0x3F) << 6) |
                 (b[3] & 0x3F);
            break;
    }
    return len;
}

}  // namespace

const EncodingUtf8& EncodingUtf8::instance()
{
    return g_utf8;
}

int EncodingUtf8::decode(const unsigned char* bytes, uint32_t count, uint32_t& codePoint)
{
    if (bytes == nullptr || count == 0) return kCutOff;
    const int len = decodeOne(bytes, count, codePoint);
    // A high surrogate directly followed by a low one, both in 3-byte form,
    // is how some writers store a character beyond U+FFFF.
    if (len == 3 && codePoint >= 0xD800 && codePoint <= 0xDBFF && count >= 6 && bytes[3] == 0xED) {
        uint32_t low = 0;
        if (decodeOne(bytes + 3, count - 3, low) == 3 && low >= 0xDC00 && low <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
            return 6;
        }
    }
    return len;
}

int EncodingUtf8::encode(uint32_t cp, unsigned char* p)
{
    if (cp < 0x80) {
        p[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x10000) {
        p[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    p[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    p[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

int EncodingUtf8::decodeChar(ConvertState&, const unsigned char* bytes, uint32_t count, uint32_t& codePoint) const
{
    return decode(bytes, count, codePoint);
}

int EncodingUtf8::encodeChar(ConvertState&, uint32_t codePoint, DataBuffer& out) const
{
    unsigned char tmp[4];
    const int len = encode(codePoint, tmp);
    return out.append(tmp, static_cast<uint32_t>(len)) ? len : 0;
}

}  // namespace hanamail
