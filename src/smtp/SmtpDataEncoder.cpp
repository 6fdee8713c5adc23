#include "smtp/SmtpDataEncoder.h"

#include <cstring>

namespace hanamail {

namespace {

// Bytes up to the next CR or LF (or the end).
uint32_t runLength(const unsigned char* s, uint32_t n)
{
    uint32_t i = 0;
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
