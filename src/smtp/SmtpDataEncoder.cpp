#include "smtp/SmtpDataEncoder.h"

#include <cstring>

namespace hanamail {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Whether any byte of the word is zero (exact: no false answers).
constexpr bool hasZeroByte(uint64_t w)
{
    return ((w - kOnes) & ~w & kHighBits) != 0;
}

// Bytes up to the next CR or LF (or the end). Whole words are passed over
// eight bytes at a time; the byte loop finds the exact place.
uint32_t runLength(const unsigned char* s, uint32_t n)
{
    uint32_t i = 0;
    for (; n - i >= 8; i += 8) {
        uint64_t w;
        std::memcpy(&w, s + i, 8);
        if (hasZeroByte(w ^ (kOnes * '\r')) || hasZeroByte(w ^ (kOnes * '\n'))) break;
    }
    while (i < n && s[i] != '\r' && s[i] != '\n') ++i;
    return i;
}

}  // namespace

uint64_t SmtpDataEncoder::encodedSize(const unsigned char* text, uint32_t n)
{
    uint64_t size = 0;
    bool lineStart = true;
    for (uint32_t i = 0; i < n;) {
        const unsigned char c = text[i];
        if (c == '\r' || c == '\n') {
            size += 2;
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') ++size;
        const uint32_t run = runLength(text + i, n - i);
        size += run;
        i += run;
        lineStart = false;
    }
    return size;
}

uint32_t SmtpDataEncoder::encode(const unsigned char* text, uint32_t n, uint32_t& pos, unsigned char* out,
                                 uint32_t room)
{
    uint32_t w = 0;
    while (pos < n && room - w >= kMinRoom) {
        const unsigned char c = text[pos];
        if (c == '\r' || c == '\n') {
            out[w++] = '\r';
            out[w++] = '\n';
            pos += (c == '\r' && pos + 1 < n && text[pos + 1] == '\n') ? 2 : 1;
            m_lineStart = true;
            continue;
        }
        if (m_lineStart) {
            if (c == '.') out[w++] = '.';
            m_lineStart = false;
        }
        // The rest of the line as it is, as far as the room goes.
        uint32_t run = runLength(text + pos, n - pos);
        if (run > room - w) run = room - w;
        std::memcpy(out + w, text + pos, run);
        w += run;
        pos += run;
    }
    return w;
}

}  // namespace hanamail
