#include "charset/Utf32Codec.h"

#include "charset/EncodingUtf8.h"
#include "charset/ScratchOutput.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

bool Utf32Codec::fromUtf8(const unsigned char* s, uint32_t n, bool bigEndian, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    ScratchOutput room(uint64_t(n) * 4, out);
    unsigned char* const start = room.data();
    if (start == nullptr) return false;
    unsigned char* d = start;
    bool ok = true;
    uint32_t i = 0;
    while (i < n) {
        uint32_t cp;
        const int len = EncodingUtf8::decode(s + i, n - i, cp);
        if (len <= 0) {
            ok = false;
            break;
        }
        i += static_cast<uint32_t>(len);
        if (bigEndian) {
            d[0] = static_cast<unsigned char>(cp >> 24);
            d[1] = static_cast<unsigned char>(cp >> 16);
            d[2] = static_cast<unsigned char>(cp >> 8);
            d[3] = static_cast<unsigned char>(cp);
        } else {
            d[0] = static_cast<unsigned char>(cp);
            d[1] = static_cast<unsigned char>(cp >> 8);
            d[2] = static_cast<unsigned char>(cp >> 16);
            d[3] = static_cast<unsigned char>(cp >> 24);
        }
        d += 4;
    }
    return room.commit(static_cast<uint32_t>(d - start), out) && ok;
}

bool Utf32Codec::toUtf8(const unsigned char* s, uint32_t n, bool bigEndian, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    const uint32_t groups = n / 4;
    bool ok = (n % 4) == 0;
    if (groups == 0) return ok;
    // Every value takes at most four bytes.
    ScratchOutput room(uint64_t(groups) * 4, out);
    unsigned char* const start = room.data();
    if (start == nullptr) return false;
    unsigned char* d = start;
    for (uint32_t g = 0; g < groups; ++g) {
        const unsigned char* p = s + 4 * g;
        const uint32_t v = bigEndian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                                     : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        if (v > 0x10FFFF) ok = false;  // written as U+FFFD
        d += EncodingUtf8::encode(v, d);
    }
    return room.commit(static_cast<uint32_t>(d - start), out) && ok;
}

}  // namespace hanamail
