// Well-formed UTF-8 (RFC 3629 section 4): overlong forms, surrogates and code
// points past U+10FFFF are ill-formed.
#include "charset/Utf8Check.h"

#include "foundation/DataBuffer.h"

namespace hanamail {

namespace utf8check {

namespace {

// The length of the well-formed sequence at s[i], or 0; bad is then the
// length of its ill-formed part (at least 1).
uint32_t sequenceAt(const unsigned char* s, uint32_t i, uint32_t n, uint32_t& bad)
{
    const unsigned c = s[i];
    if (c < 0x80) return 1;
    uint32_t len;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    uint32_t k = 1;
    if (i + 1 < n && s[i + 1] >= lo && s[i + 1] <= hi) {
        k = 2;
        while (k < len && i + k < n && (s[i + k] & 0xC0) == 0x80) ++k;
    }
    if (k == len) return len;
    bad = k;
    return 0;
}

// Calls onBad(offset, length) for each ill-formed run from the start; stops
// early when it returns false.
template <typename OnBad>
void forEachIllFormed(const unsigned char* s, uint32_t n, OnBad onBad)
{
    for (uint32_t i = 0; i < n;) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        uint32_t bad = 0;
        const uint32_t len = sequenceAt(s, i, n, bad);
        if (len != 0) {
            i += len;
            continue;
        }
        if (!onBad(i, bad)) return;
        i += bad;
    }
}

}  // namespace

uint32_t firstInvalid(const unsigned char* s, uint32_t n)
{
    uint32_t first = n;
    forEachIllFormed(s, n, [&](uint32_t at, uint32_t) {
        first = at;
        return false;
    });
    return first;
}

uint32_t appendRepaired(const unsigned char* s, uint32_t n, DataBuffer& out, std::vector<uint32_t>& offsets,
                        size_t maxOffsets)
{
    uint32_t replaced = 0;
    uint32_t from = 0;
    forEachIllFormed(s, n, [&](uint32_t at, uint32_t bad) {
        (void)out.append(s + from, at - from);  // a failure stays recorded in out
        (void)out.append("\xEF\xBF\xBD", 3);
        if (offsets.size() < maxOffsets) offsets.push_back(at);
        ++replaced;
        from = at + bad;
        return true;
    });
    (void)out.append(s + from, n - from);
    return replaced;
}

}  // namespace utf8check

}  // namespace hanamail
