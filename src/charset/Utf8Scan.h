#pragma once
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define HM_UTF8SCAN_SSE2 1
#endif

namespace hanamail {

// The UTF-8 reader shared by every conversion out of UTF-8 (to UTF-16 and,
// fused, to the table code pages). It reads as the one-character rules say: a
// byte below 80 is one unit; C2-DF takes one continuation byte, E0-EF two
// (after E0 the first is A0 or more; surrogate code points are accepted);
// F0-F4 with valid continuations gives a surrogate pair; anything else loses
// its first byte and reading goes on at the next.
//
// Mixed text (CJK between ASCII) defeats branch prediction character by
// character, so 64 bytes at a time are classified with masks: when the block
// holds only well-formed one- to three-byte characters, the unit that would
// start at every position is computed at once and the real character starts
// are picked out of the masks, without branching on the character class. Any
// other block is read one character at a time.
//
// A Sink takes the decoded units:
//     void unit(uint32_t u);                           one UTF-16 code unit
//     void ascii16(const unsigned char* p);            16 bytes below 80, a unit each
//     void run(const unsigned char* p, uint32_t count, uint32_t last);
//         count characters in a row: count - 1 bytes below 80 from p, a unit
//         each, then the unit last; up to 32 bytes from p may be read
namespace utf8scan {

inline bool isCont(uint32_t b)
{
    return (b & 0xC0) == 0x80;
}

// 16 bytes below 80 as 16 UTF-16LE units (32 bytes at d).
inline void widenAscii16(const unsigned char* p, unsigned char* d)
{
#ifdef HM_UTF8SCAN_SSE2
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi8(v, zero));
#else
    for (int k = 0; k < 16; ++k) {
        d[2 * k] = p[k];
        d[2 * k + 1] = 0;
    }
#endif
}

// One character at s[i] (i < n): its units go to the sink; returns the bytes used.
template <typename Sink>
inline uint32_t one(const unsigned char* s, uint32_t i, uint32_t n, Sink& sink)
{
    const uint32_t c = s[i];
    if (c < 0x80) {
        sink.unit(c);
        return 1;
    }
    const uint32_t left = n - i;
    if (c >= 0xE0) {
        if (c < 0xF0) {
            if (left >= 3) {
                const uint32_t c1 = s[i + 1], c2 = s[i + 2];
                if (isCont(c1) && isCont(c2) && (c != 0xE0 || c1 >= 0xA0)) {
                    sink.unit(((c & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F));
                    return 3;
                }
            }
        } else if (c <= 0xF4 && left >= 4) {
            const uint32_t c1 = s[i + 1], c2 = s[i + 2], c3 = s[i + 3];
            const uint32_t lo = c == 0xF0 ? 0x90 : 0x80;
            const uint32_t hi = c == 0xF4 ? 0x8F : 0xBF;
            if (c1 >= lo && c1 <= hi && isCont(c2) && isCont(c3)) {
                const uint32_t cp = ((c & 0x07) << 18) | ((c1 & 0x3F) << 12) | ((c2 & 0x3F) << 6) | (c3 & 0x3F);
                sink.unit(0xD800 + ((cp - 0x10000) >> 10));
                sink.unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
                return 4;
            }
        }
    } else if (c >= 0xC2 && left >= 2 && isCont(s[i + 1])) {
        sink.unit(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
        return 2;
    }
    return 1;  // invalid or cut off
}

#ifdef HM_UTF8SCAN_SSE2
struct BlockMasks {
    uint64_t nonAscii = 0, cont = 0, lead2 = 0, lead3 = 0, e0 = 0, low = 0;
};

inline void classify16(const unsigned char* p, int shift, BlockMasks& m)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto bits = [&](__m128i v) { return uint64_t(static_cast<uint32_t>(_mm_movemask_epi8(v))) << shift; };
    // As signed bytes: 80-BF is -128..-65, C2-DF -62..-33, E0-EF -32..-17.
    m.nonAscii |= bits(x);
    m.cont |= bits(_mm_cmplt_epi8(x, _mm_set1_epi8(-64)));
    m.lead2 |= bits(_mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(-63)), _mm_cmplt_epi8(x, _mm_set1_epi8(-32))));
    m.lead3 |= bits(_mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(-33)), _mm_cmplt_epi8(x, _mm_set1_epi8(-16))));
    m.e0 |= bits(_mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(0xE0))));
    m.low |= bits(_mm_cmplt_epi8(x, _mm_set1_epi8(-96)));  // 80-9F
}

// The unit that each of the 64 positions would start if it were a character
// start (one to three bytes), in 16-bit lanes.
inline void candidates(const unsigned char* b, uint16_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i m3f = _mm_set1_epi16(0x3F);
    const __m128i m1f = _mm_set1_epi16(0x1F);
    const __m128i cDF = _mm_set1_epi16(0xDF);
    const __m128i c80 = _mm_set1_epi16(0x80);
    for (int q = 0; q < 64; q += 16) {
        const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + q));
        const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + q + 1));
        const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + q + 2));
        for (int half = 0; half < 2; ++half) {
            const __m128i a = half ? _mm_unpackhi_epi8(x0, zero) : _mm_unpacklo_epi8(x0, zero);
            const __m128i t1 = _mm_and_si128(half ? _mm_unpackhi_epi8(x1, zero) : _mm_unpacklo_epi8(x1, zero), m3f);
            const __m128i t2 = _mm_and_si128(half ? _mm_unpackhi_epi8(x2, zero) : _mm_unpacklo_epi8(x2, zero), m3f);
            // 16-bit lanes drop the lead byte's high bits on their own.
            const __m128i u3 = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(a, 12), _mm_slli_epi16(t1, 6)), t2);
            const __m128i u2 = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, m1f), 6), t1);
            const __m128i is3 = _mm_cmpgt_epi16(a, cDF);
            const __m128i is1 = _mm_cmplt_epi16(a, c80);
            __m128i u = _mm_or_si128(_mm_and_si128(is3, u3), _mm_andnot_si128(is3, u2));
            u = _mm_or_si128(_mm_and_si128(is1, a), _mm_andnot_si128(is1, u));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + q + 8 * half), u);
        }
    }
}

// The unit of the one- to three-byte character at p (four bytes readable).
inline uint32_t decodeAt(const unsigned char* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);  // x86: little-endian, so the lead byte is the low byte
    const uint32_t c = w & 0xFF;
    const uint32_t u2 = ((w & 0x1F) << 6) | ((w >> 8) & 0x3F);
    const uint32_t u3 = ((w & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F);
    return c < 0x80 ? c : c < 0xE0 ? u2 : u3;
}

inline int bitCount(uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}
#endif

// Reads the characters that start before limit (bytes up to n may be looked
// at) and returns where reading stopped: limit or a little past it, at most n.
// The sink must have room for limit - i + 32 units.
template <typename Sink>
uint32_t scan(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, Sink& out)
{
    Sink sink = out;  // a local copy keeps the write position in a register

#ifdef HM_UTF8SCAN_SSE2
    // A block reads 64 bytes and looks up to 32 further (a run's last copy).
    alignas(16) uint16_t cand[64];
    while (limit - i >= 64 && n - i >= 96) {
        const unsigned char* b = s + i;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 32));
        const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 48));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3))) == 0) {
            sink.ascii16(b);
            sink.ascii16(b + 16);
            sink.ascii16(b + 32);
            sink.ascii16(b + 48);
            i += 64;
            continue;
        }
        BlockMasks m;
        classify16(b, 0, m);
        classify16(b + 16, 16, m);
        classify16(b + 32, 32, m);
        classify16(b + 48, 48, m);
        const uint64_t multi = m.lead2 | m.lead3;
        const uint64_t expectCont = (multi << 1) | (m.lead3 << 2);
        const uint64_t bad = (m.nonAscii & ~m.cont & ~multi) | ((m.e0 << 1) & m.low);
        if (bad != 0 || expectCont != m.cont) {
            // Something else (a 4-byte character, a broken sequence): one
            // character at a time over the first 16 bytes, then blocks again.
            const uint32_t stop = i + 16;
            while (i < stop) i += one(s, i, n, sink);
            continue;
        }
        // A character running past the block is left for the next one.
        uint32_t e = 64;
        if ((m.lead3 >> 62) & 1)
            e = 62;
        else if ((multi >> 63) & 1)
            e = 63;
        uint64_t leads = ~m.cont;
        if (e < 64) leads &= (uint64_t(1) << e) - 1;
        uint64_t starts = leads & ~(leads << 1);  // the first character start of each run of them
        if (bitCount(starts) <= 8) {
            // Mostly one-byte characters (Latin text): a run of character
            // starts is ASCII up to its last character.
            while (starts != 0) {
                const int a = __builtin_ctzll(starts);
                starts &= starts - 1;
                const uint64_t after = ~leads & (~uint64_t(0) << a);
                const int end = after != 0 ? __builtin_ctzll(after) : 64;
                sink.run(b + a, static_cast<uint32_t>(end - a), decodeAt(b + end - 1));
            }
        } else {
            candidates(b, cand);
            while (leads != 0) {
                const int p = __builtin_ctzll(leads);
                leads &= leads - 1;
                sink.unit(cand[p]);
            }
        }
        i += e;
    }
#endif
    while (i < limit) i += one(s, i, n, sink);
    out = sink;
    return i;
}

}  // namespace utf8scan

// Writing UTF-8 from UTF-16 units, for the conversions into UTF-8.
namespace utf8out {

// For every unit its UTF-8 bytes (first byte lowest) with their count in the
// top byte; surrogates have count 0, as a pair of them makes one character.
// Built on first use; 256 KB.
const uint32_t* wordTable();

inline void putPair(unsigned char*& d, uint32_t hi, uint32_t lo)
{
    const uint32_t cp = 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
    d[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    d[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    d[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    d[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    d += 4;
}

// A surrogate unit written alone: three bytes.
inline void putLone(unsigned char*& d, uint32_t u)
{
    d[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    d[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    d[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    d += 3;
}

// Units arriving one by one: a high surrogate waits for the next unit, and a
// low one right after it makes one four-byte sequence, as UTF-16 text reads.
// Every unit stores four bytes and keeps one to three: one byte of slack.
struct Writer {
    const uint32_t* words;
    unsigned char* d;
    uint32_t high = 0;  // a waiting high surrogate, 0 = none

    void unit(uint32_t u)
    {
        const uint32_t w = words[u];
        if ((w >> 24) != 0 && high == 0) {
            std::memcpy(d, &w, 4);
            d += w >> 24;
            return;
        }
        // By value, so that the writer itself stays in registers.
        const State s = slowUnit(State{d, high}, u, words);
        d = s.d;
        high = s.high;
    }

    struct State {
        unsigned char* d;
        uint32_t high;
    };
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    static State
    slowUnit(State s, uint32_t u, const uint32_t* words)
    {
        if (s.high != 0) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                putPair(s.d, s.high, u);
                s.high = 0;
                return s;
            }
            putLone(s.d, s.high);
            s.high = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            s.high = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            putLone(s.d, u);
        } else {
            const uint32_t w = words[u];
            std::memcpy(s.d, &w, 4);
            s.d += w >> 24;
        }
        return s;
    }
    void ascii16(const unsigned char* p)
    {
        if (high != 0) {
            putLone(d, high);
            high = 0;
        }
        std::memcpy(d, p, 16);
        d += 16;
    }
    // The end of the text: a waiting high surrogate is written alone.
    void finish()
    {
        if (high != 0) putLone(d, high);
        high = 0;
    }
};

}  // namespace utf8out

}  // namespace hanamail
