// UTF-7 (RFC 2152).
#include "charset/Utf7Codec.h"

#include "charset/ScratchOutput.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isDirect(uint32_t u)
{
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) return true;
    switch (u) {
        case '\'':
        case '(':
        case ')':
        case ',':
        case '-':
        case '.':
        case '/':
        case ':':
        case '?':
        case ' ':
        case '\t':
        case '\r':
        case '\n': return true;
        default: return false;
    }
}

int base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool Utf7Codec::encode(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    const uint32_t units = n / 2;
    // Worst case: each unit alone in its own run, "+xxx-", or 8/3 bytes in a long run.
    ScratchOutput room(uint64_t(units) * 5 + 2, out);
    unsigned char* const start = room.data();
    if (start == nullptr) return false;
    unsigned char* d = start;
    bool inRun = false;
    uint32_t bits = 0;
    int nbits = 0;
    auto closeRun = [&]() {
        if (nbits > 0) *d++ = static_cast<unsigned char>(kBase64[(bits << (6 - nbits)) & 0x3F]);
        *d++ = '-';
        inRun = false;
        bits = 0;
        nbits = 0;
    };
    uint32_t i = 0;
    if (units > 0 && s[0] == 0xFF && s[1] == 0xFE) i = 1;
    for (; i < units; ++i) {
        const uint32_t u = s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
        if (isDirect(u)) {
            if (inRun) closeRun();
            *d++ = static_cast<unsigned char>(u);
        } else if (u == '+') {
            if (inRun) closeRun();
            *d++ = '+';
            *d++ = '-';
        } else {
            if (!inRun) {
                *d++ = '+';
                inRun = true;
            }
            bits = (bits << 16) | u;
            nbits += 16;
            while (nbits >= 6) {
                nbits -= 6;
                *d++ = static_cast<unsigned char>(kBase64[(bits >> nbits) & 0x3F]);
            }
            bits &= (1u << nbits) - 1;
        }
    }
    if (inRun) closeRun();
    return room.commit(static_cast<uint32_t>(d - start), out) && (n % 2) == 0;
}

bool Utf7Codec::decode(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    ScratchOutput room(uint64_t(n) * 2, out);
    unsigned char* const start = room.data();
    if (start == nullptr) return false;
    unsigned char* d = start;
    bool ok = true;
    bool inRun = false;
    bool produced = false;
    uint32_t bits = 0;
    int nbits = 0;
    auto putUnit = [&](uint32_t u) {
        d[0] = static_cast<unsigned char>(u);
        d[1] = static_cast<unsigned char>(u >> 8);
        d += 2;
    };
    auto endRun = [&]() {
        if (!produced || (bits & ((1u << nbits) - 1)) != 0) ok = false;
        inRun = false;
    };
    uint32_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (!inRun) {
            if (c == '+') {
                if (i + 1 < n && s[i + 1] == '-') {
                    putUnit('+');
                    i += 2;
                    continue;
                }
                inRun = true;
                produced = false;
                bits = 0;
                nbits = 0;
                ++i;
                continue;
            }
            if (c > 0x7F) ok = false;
            putUnit(c);
            ++i;
            continue;
        }
        const int v = base64Value(c);
        if (v >= 0) {
            bits = (bits << 6) | static_cast<uint32_t>(v);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                putUnit((bits >> nbits) & 0xFFFF);
                produced = true;
            }
            bits &= (1u << nbits) - 1;
            ++i;
            continue;
        }
        endRun();
        if (c == '-') ++i;  // the run's terminator is absorbed; any other byte is read again outside the run
    }
    if (inRun) endRun();
    return room.commit(static_cast<uint32_t>(d - start), out) && ok;
}

}  // namespace hanamail
