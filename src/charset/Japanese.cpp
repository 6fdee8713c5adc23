#include "charset/Japanese.h"

#include "charset/StagingBlock.h"
#include "foundation/DataBuffer.h"

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;

// Shift_JIS of the full-width counterpart of each half-width katakana A1..DF.
const uint16_t kFullWidthKana[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385,
    0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E, 0x8350, 0x8352,
    0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384,
    0x8386, 0x8388, 0x8389, 0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

inline bool isJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }
inline bool isTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The standard correspondence between Shift_JIS pairs and JIS X 0208
// row/cell bytes, in arithmetic rather than branches: the ranges of trail
// bytes follow each other at random in real text.
inline void toJis(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2)
{
    const int high = s2 >= 0x9F;                // even JIS row
    const int middle = (s2 >= 0x80) & !high;  // odd row, cells above the DEL gap
    j1 = static_cast<unsigned char>(2 * (s1 - 0x70 - 0x40 * (s1 >= 0xA0)) - !high);
    j2 = static_cast<unsigned char>(s2 - 0x1F - middle - (0x7E - 0x1F) * high);
}

inline void toSjis(unsigned char j1, unsigned char j2, unsigned char& s1, unsigned char& s2)
{
    const int odd = j1 & 1;
    s1 = static_cast<unsigned char>((j1 + 1) / 2 + 0x70 + 0x40 * (j1 >= 0x5F));
    s2 = static_cast<unsigned char>(j2 + 0x7E - odd * (0x7E - 0x1F - (j2 > 0x5F)));
}

}  // namespace

void Japanese::sjisPairToJis(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2)
{
    toJis(s1, s2, j1, j2);
}

void Japanese::jisPairToSjis(unsigned char j1, unsigned char j2, unsigned char& s1, unsigned char& s2)
{
    toSjis(j1, j2, s1, s2);
}

bool Japanese::sjisToJis(const unsigned char* s, uint32_t n, DataBuffer& out) const
{
    if (s == nullptr || n == 0)
        return true;
    bool ok = true;
    bool jis = false;
    StagingBlock block(out, uint64_t(n) + n / 4 + 16);
    unsigned char* w = block.start();
    // One JIS X 0208 character from its Shift_JIS pair, entering JIS mode first.
    auto kanji = [&](unsigned char s1, unsigned char s2) {
        w = block.room(w, 5);
        if (!jis) {
            *w++ = kEsc;
            *w++ = '$';
            *w++ = 'B';
            jis = true;
        }
        toJis(s1, s2, w[0], w[1]);
        w += 2;
    };
    uint32_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            // CR and LF included: JIS mode never spans a line end.
            w = block.room(w, 4);
            if (jis) {
                *w++ = kEsc;
                *w++ = '(';
                *w++ = 'B';
                jis = false;
            }
            *w++ = c;
            ++i;
        } else if (isJisLead(c) || (c >= 0xF0 && c <= 0xFC)) {
            if (i + 1 >= n) {
                ok = false;  // a lead byte at the end
                break;
            }
            const unsigned char c2 = s[i + 1];
            if (!isTrail(c2)) {
                ok = false;  // the trail byte is read again on its own
                ++i;
                continue;
            }
            if (isJisLead(c))
                kanji(c, c2);
            else
                ok = false;  // user-defined and IBM rows have no JIS X 0208 code
            i += 2;
        } else if (c >= 0xA1 && c <= 0xDF) {
            unsigned sj = kFullWidthKana[c - 0xA1];
            uint32_t used = 1;
            if (i + 1 < n) {
                const unsigned char mark = s[i + 1];
                if (mark == 0xDE && ((c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE))) {
                    sj += 1;
                    used = 2;
                } else if (mark == 0xDE && c == 0xB3) {
                    sj = 0x8394;
                    used = 2;
                } else if (mark == 0xDF && c >= 0xCA && c <= 0xCE) {
                    sj += 2;
                    used = 2;
                }
            }
            kanji(static_cast<unsigned char>(sj >> 8), static_cast<unsigned char>(sj));
            i += used;
        } else {
            ok = false;  // 80, A0, FD-FF: nothing to write in a 7-bit text
            ++i;
        }
    }
    if (jis) {
        w = block.room(w, 3);
        *w++ = kEsc;
        *w++ = '(';
        *w++ = 'B';
    }
    block.finish(w);
    return ok;
}

void Japanese::jisToSjis(const unsigned char* s, uint32_t n, DataBuffer& out) const
{
    if (s == nullptr || n == 0)
        return;
    StagingBlock block(out, n);  // never more bytes than came in
    unsigned char* w = block.start();
    bool jis = false;
    uint32_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c == kEsc) {
            if (n - i < 2)
                break;  // cut off
            const unsigned char c1 = s[i + 1];
            if (c1 != '$' && c1 != '(') {
                i += 2;
                continue;
            }
            if (n - i < 3)
                break;
            const unsigned char c2 = s[i + 2];
            if (c1 == '$' && (c2 == '@' || c2 == 'B'))
                jis = true;
            else if (c1 == '(' && (c2 == 'B' || c2 == 'J'))
                jis = false;
            i += 3;
            continue;
        }
        w = block.room(w, 2);
        if (c == kCr || c == kLf) {
            jis = false;
            *w++ = c;
            ++i;
            continue;
        }
        if (!jis || c < 0x21) {
            // Controls and space are never half of a JIS X 0208 pair.
            *w++ = c;
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;  // half a pair at the end
        const unsigned char c2 = s[i + 1];
        if (c2 < 0x21) {
            ++i;  // half a pair: the control after it (an escape, a line end) still counts
            continue;
        }
        toSjis(c, c2, w[0], w[1]);
        w += 2;
        i += 2;
    }
    block.finish(w);
}
