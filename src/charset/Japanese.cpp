// The 7-bit Japanese encodings: ISO-2022-JP (RFC 1468) and the half-width kana
// forms of code pages 50221 and 50222.
#include "charset/Japanese.h"

#include "charset/ScratchOutput.h"
#include "charset/StagingBlock.h"
#include "foundation/DataBuffer.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define HM_JIS_SSE2 1
#endif

namespace hanamail {

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

inline bool isJisLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF);
}
inline bool isTrail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// The standard correspondence between Shift_JIS pairs and JIS X 0208
// row/cell bytes, in arithmetic rather than branches: the ranges of trail
// bytes follow each other at random in real text.
inline void toJis(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2)
{
    const int high = s2 >= 0x9F;              // even JIS row
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

#ifdef HM_JIS_SSE2
// toSjis on eight pairs: first bytes in the low halves of the 16-bit lanes.
inline __m128i pairsToSjis(__m128i v)
{
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    const __m128i j1 = _mm_and_si128(v, lowByte);
    const __m128i j2 = _mm_srli_epi16(v, 8);
    const __m128i one = _mm_set1_epi16(1);
    __m128i s1 = _mm_add_epi16(_mm_srli_epi16(_mm_add_epi16(j1, one), 1), _mm_set1_epi16(0x70));
    s1 = _mm_add_epi16(s1, _mm_and_si128(_mm_cmpgt_epi16(j1, _mm_set1_epi16(0x5E)), _mm_set1_epi16(0x40)));
    const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(j1, one), one);
    // Odd rows: j2 + 1F, one more above 5F; even rows: j2 + 7E.
    const __m128i above = _mm_and_si128(_mm_cmpgt_epi16(j2, _mm_set1_epi16(0x5F)), one);
    const __m128i oddS2 = _mm_add_epi16(_mm_add_epi16(j2, _mm_set1_epi16(0x1F)), above);
    const __m128i evenS2 = _mm_add_epi16(j2, _mm_set1_epi16(0x7E));
    const __m128i s2 = _mm_or_si128(_mm_and_si128(odd, oddS2), _mm_andnot_si128(odd, evenS2));
    return _mm_or_si128(_mm_and_si128(s1, lowByte), _mm_slli_epi16(s2, 8));
}

inline __m128i inRange(__m128i v, unsigned char lo, unsigned char hi)
{
    const __m128i above = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(static_cast<char>(lo))), v);
    const __m128i below = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(static_cast<char>(hi))), v);
    return _mm_and_si128(above, below);
}

// Whether the 16 bytes are eight pairs of a JIS lead byte (81-9F, E0-EF) and
// a trail byte (40-FC but 7F), read from a character start.
inline bool eightJisPairs(__m128i v)
{
    const uint32_t lead =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(inRange(v, 0x81, 0x9F), inRange(v, 0xE0, 0xEF))));
    const uint32_t trail = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)), inRange(v, 0x40, 0xFC))));
    return (lead & 0x5555) == 0x5555 && (trail & 0xAAAA) == 0xAAAA;
}

// toJis on eight pairs: lead bytes in the low halves of the 16-bit lanes.
inline __m128i pairsToJis(__m128i v)
{
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i s1 = _mm_and_si128(v, lowByte);
    const __m128i s2 = _mm_srli_epi16(v, 8);
    const __m128i high = _mm_cmpgt_epi16(s2, _mm_set1_epi16(0x9E));  // even JIS row
    const __m128i middle = _mm_andnot_si128(high, _mm_cmpgt_epi16(s2, _mm_set1_epi16(0x7F)));
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(s1, _mm_set1_epi16(0x9F)), _mm_set1_epi16(0x40));
    __m128i j1 = _mm_slli_epi16(_mm_sub_epi16(_mm_sub_epi16(s1, _mm_set1_epi16(0x70)), upper), 1);
    j1 = _mm_sub_epi16(j1, _mm_andnot_si128(high, one));
    __m128i j2 = _mm_sub_epi16(s2, _mm_set1_epi16(0x1F));
    j2 = _mm_sub_epi16(j2, _mm_and_si128(middle, one));
    j2 = _mm_sub_epi16(j2, _mm_and_si128(high, _mm_set1_epi16(0x7E - 0x1F)));
    return _mm_or_si128(_mm_and_si128(j1, lowByte), _mm_slli_epi16(_mm_and_si128(j2, lowByte), 8));
}
#endif

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
    if (s == nullptr || n == 0) return true;
    EncodeState state;
    sjisToJisPiece(s, n, true, state, out);
    return state.ok;
}

uint32_t Japanese::sjisToJisPiece(const unsigned char* s, uint32_t n, bool final, EncodeState& state,
                                  DataBuffer& out) const
{
    if (s == nullptr) n = 0;
    bool ok = state.ok;
    bool jis = state.jis;
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
#ifdef HM_JIS_SSE2
        // Sixteen ASCII bytes outside JIS mode, or eight Shift_JIS pairs of
        // JIS X 0208, at once.
        if (n - i >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            if (!jis && _mm_movemask_epi8(v) == 0) {
                w = block.room(w, 16);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
                w += 16;
                i += 16;
                continue;
            }
            if (eightJisPairs(v)) {
                w = block.room(w, 19);
                if (!jis) {
                    *w++ = kEsc;
                    *w++ = '$';
                    *w++ = 'B';
                    jis = true;
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w), pairsToJis(v));
                w += 16;
                i += 16;
                continue;
            }
        }
#endif
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
                if (!final) break;  // its trail byte comes with the next piece
                ok = false;         // a lead byte at the end
                i = n;
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
            if (i + 1 >= n && !final) break;  // a sound mark may come with the next piece
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
    if (final && jis) {
        w = block.room(w, 3);
        *w++ = kEsc;
        *w++ = '(';
        *w++ = 'B';
        jis = false;
    }
    state.ok = block.finish(w, ok);  // the buffer's failure() tells the two apart
    state.jis = jis;
    return i;
}

void Japanese::jisToSjis(const unsigned char* s, uint32_t n, DataBuffer& out) const
{
    appendShrinkingSteps(s, n, out, [this](auto&&... a) { return jisToSjisStep(a...); });
}

uint32_t Japanese::jisToSjisStep(const unsigned char* s, uint32_t i, uint32_t n, unsigned char*& d, uint32_t room,
                                 bool& jis) const
{
    if (s == nullptr || room < 2) return s == nullptr ? n : i;
    unsigned char* w = d;
    unsigned char* const last = d + (room - 2);  // two bytes of room from here on
    bool mode = jis;
    while (i < n && w <= last) {
#ifdef HM_JIS_SSE2
        // Sixteen bytes at a time up to the next byte that needs a look: in
        // JIS mode every two bytes are a pair until one is below 21 (escape,
        // line end, control or space); in ASCII mode all but an escape is copied.
        if (n - i >= 16 && last - w >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            uint32_t k;
            if (mode) {
                const __m128i floor = _mm_set1_epi8(0x21);
                const uint32_t low =
                    0xFFFFu ^ static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, floor), v)));
                k = (low != 0 ? static_cast<uint32_t>(__builtin_ctz(low)) : 16u) & ~1u;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w), pairsToSjis(v));
            } else {
                const uint32_t esc =
                    static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(kEsc)))));
                k = esc != 0 ? static_cast<uint32_t>(__builtin_ctz(esc)) : 16u;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
            }
            if (k != 0) {
                i += k;
                w += k;
                continue;
            }
        }
#endif
        const unsigned char c = s[i];
        if (c == kEsc) {
            if (n - i < 2) {
                i = n;
                break;  // cut off
            }
            const unsigned char c1 = s[i + 1];
            if (c1 != '$' && c1 != '(') {
                i += 2;
                continue;
            }
            if (n - i < 3) {
                i = n;
                break;
            }
            const unsigned char c2 = s[i + 2];
            if (c1 == '$' && (c2 == '@' || c2 == 'B'))
                mode = true;
            else if (c1 == '(' && (c2 == 'B' || c2 == 'J'))
                mode = false;
            i += 3;
            continue;
        }
        if (c == kCr || c == kLf) {
            mode = false;
            *w++ = c;
            ++i;
            continue;
        }
        if (!mode || c < 0x21) {
            // Controls and space are never half of a JIS X 0208 pair.
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
            ++i;  // half a pair: the control after it (an escape, a line end) still counts
            continue;
        }
        toSjis(c, c2, w[0], w[1]);
        w += 2;
        i += 2;
    }
    d = w;
    jis = mode;
    return i;
}

}  // namespace hanamail
