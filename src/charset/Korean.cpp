// ISO-2022-KR (RFC 1557) over the Korean unified Hangul code.
#include "charset/Korean.h"

#include "charset/ScratchOutput.h"
#include "charset/StagingBlock.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kSo = 0x0E;
constexpr unsigned char kSi = 0x0F;

inline bool isKsx1001(unsigned char c)
{
    return c >= 0xA1 && c <= 0xFE;
}
// Trail bytes of the extended Hangul of 949, which ISO-2022-KR cannot carry.
inline bool isUhcTrail(unsigned char c)
{
    return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE);
}

}  // namespace

bool Korean::ksToIso2022kr(const unsigned char* s, uint32_t n, DataBuffer& out) const
{
    if (s == nullptr || n == 0) return true;
    EncodeState state;
    ksToIso2022krPiece(s, n, true, state, out);
    return state.ok;
}

uint32_t Korean::ksToIso2022krPiece(const unsigned char* s, uint32_t n, bool final, EncodeState& state,
                                    DataBuffer& out) const
{
    if (s == nullptr || n == 0) return 0;
    bool ok = state.ok;
    bool shifted = state.shifted;
    StagingBlock block(out, uint64_t(n) + n / 4 + 16);
    unsigned char* w = block.start();
    if (!state.started) {
        *w++ = kEsc;
        *w++ = '$';
        *w++ = ')';
        *w++ = 'C';
        state.started = true;
    }
    uint32_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        w = block.room(w, 3);
        if (c < 0x80) {
            if (shifted) {
                *w++ = kSi;
                shifted = false;
            }
            *w++ = c;
            ++i;
            continue;
        }
        if (i + 1 >= n) {
            if (!final) break;  // its second byte comes with the next piece
            ok = false;         // a lone last byte
            i = n;
            break;
        }
        const unsigned char c2 = s[i + 1];
        if (isKsx1001(c) && isKsx1001(c2)) {
            if (!shifted) {
                *w++ = kSo;
                shifted = true;
            }
            *w++ = c & 0x7F;
            *w++ = c2 & 0x7F;
            i += 2;
        } else if (c >= 0x81 && c <= 0xFE && isUhcTrail(c2)) {
            ok = false;  // a character outside KS X 1001
            i += 2;
        } else {
            ok = false;  // a broken pair: the second byte is read again on its own
            ++i;
        }
    }
    state.ok = block.finish(w, ok);  // the buffer's failure() tells the two apart
    state.shifted = shifted;
    return i;
}

void Korean::iso2022krToKs(const unsigned char* s, uint32_t n, DataBuffer& out) const
{
    appendShrinkingSteps(s, n, out, [this](auto&&... a) { return iso2022krToKsStep(a...); });
}

uint32_t Korean::iso2022krToKsStep(const unsigned char* s, uint32_t i, uint32_t n, unsigned char*& d, uint32_t room,
                                   bool& shifted) const
{
    if (s == nullptr || room < 2) return s == nullptr ? n : i;
    unsigned char* w = d;
    unsigned char* const last = d + (room - 2);  // two bytes of room from here on
    bool mode = shifted;
    while (i < n && w <= last) {
        const unsigned char c = s[i];
        if (c == kEsc) {
            if (n - i >= 4 && s[i + 1] == '$' && s[i + 2] == ')' && s[i + 3] == 'C')
                i += 4;
            else
                ++i;
            continue;
        }
        if (c == kSo || c == kSi) {
            mode = c == kSo;
            ++i;
            continue;
        }
        if (!mode || c < 0x21) {
            // Controls and space stand for themselves in either mode.
            *w++ = c;
            ++i;
            continue;
        }
        if (i + 1 >= n) {
            i = n;
            break;  // half a pair at the end
        }
        const unsigned char c2 = s[i + 1];
        if (c2 < 0x21) {
            ++i;  // half a pair: the control after it still counts
            continue;
        }
        *w++ = c | 0x80;
        *w++ = c2 | 0x80;
        i += 2;
    }
    d = w;
    shifted = mode;
    return i;
}

}  // namespace hanamail
