// Base64 (RFC 4648 section 4; line-broken as RFC 2045 section 6.8 asks of MIME
// bodies).
#include "charset/Base64Codec.h"

#include <array>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HM_BASE64_X86 1
#include <immintrin.h>
#endif

namespace hanamail {

namespace {

#ifdef HM_BASE64_X86

// Vector paths for x86, chosen at run time; each handles whole blocks and
// leaves the rest to the scalar code. Encoding spreads 12 bytes over the 16
// sextets of a lane and maps them to the alphabet with one table lookup;
// decoding checks the ranges of the alphabet and packs 16 sextets into 12 bytes.

#define HM_SSSE3 __attribute__((target("ssse3")))
#define HM_AVX2 __attribute__((target("avx2")))

// Sextet values 0-63 to characters: one offset per range of the alphabet.
HM_SSSE3 inline __m128i toAlphabet128(__m128i idx)
{
    const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                          '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    __m128i r = _mm_subs_epu8(idx, _mm_set1_epi8(51));
    __m128i below26 = _mm_cmpgt_epi8(_mm_set1_epi8(26), idx);
    r = _mm_or_si128(r, _mm_and_si128(below26, _mm_set1_epi8(13)));
    return _mm_add_epi8(_mm_shuffle_epi8(offsets, r), idx);
}

HM_SSSE3 inline __m128i toSextets128(__m128i in)
{
    in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00));
    __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003f03f0));
    __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    return _mm_or_si128(t1, t3);
}

// Returns the bytes used (a multiple of 12); reads up to 4 bytes beyond them.
HM_SSSE3 size_t encodeSsse3(const unsigned char* s, size_t n, size_t readable, char* d)
{
    size_t i = 0;
    for (; n - i >= 12 && readable - i >= 16; i += 12, d += 16) {
        __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), toAlphabet128(toSextets128(in)));
    }
    return i;
}

HM_AVX2 inline __m256i toAlphabet256(__m256i idx)
{
    const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                                             'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    __m256i r = _mm256_subs_epu8(idx, _mm256_set1_epi8(51));
    __m256i below26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), idx);
    r = _mm256_or_si256(r, _mm256_and_si256(below26, _mm256_set1_epi8(13)));
    return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, r), idx);
}

HM_AVX2 size_t encodeAvx2(const unsigned char* s, size_t n, size_t readable, char* d)
{
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4,
                                            7, 6, 8, 7, 10, 9, 11, 10);
    size_t i = 0;
    for (; n - i >= 24 && readable - i >= 28; i += 24, d += 32) {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 12));
        __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        in = _mm256_shuffle_epi8(in, spread);
        __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
        __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
        __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
        __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), toAlphabet256(_mm256_or_si256(t1, t3)));
    }
    return i;
}

// Decoding checks each character against the ranges of the alphabet (signed
// compares, so bytes of 0x80 and above never match) and adds the offset of its
// range; then 16 sextets are packed into 12 bytes per lane.
struct DecodeConstants128 {
    __m128i lo[3], hi[3], add[5], plus, slash;
};
struct DecodeConstants256 {
    __m256i lo[3], hi[3], add[5], plus, slash;
};

HM_SSSE3 DecodeConstants128 decodeConstants128()
{
    DecodeConstants128 k;
    const char lo[3] = {'A', 'a', '0'}, hi[3] = {'Z', 'z', '9'}, add[5] = {-65, -71, 4, 19, 16};
    for (int i = 0; i < 3; ++i) {
        k.lo[i] = _mm_set1_epi8(static_cast<char>(lo[i] - 1));
        k.hi[i] = _mm_set1_epi8(static_cast<char>(hi[i] + 1));
    }
    for (int i = 0; i < 5; ++i) k.add[i] = _mm_set1_epi8(add[i]);
    k.plus = _mm_set1_epi8('+');
    k.slash = _mm_set1_epi8('/');
    return k;
}

// One block of 16 characters into 12 bytes (writing 16). Returns how many
// characters from the start are of the alphabet; only their whole groups of
// four give valid bytes (groups decode independently of each other).
HM_SSSE3 inline unsigned decodeBlockSsse3(const DecodeConstants128& k, const unsigned char* s, unsigned char* d)
{
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i m[5];
    for (int i = 0; i < 3; ++i) m[i] = _mm_and_si128(_mm_cmpgt_epi8(c, k.lo[i]), _mm_cmpgt_epi8(k.hi[i], c));
    m[3] = _mm_cmpeq_epi8(c, k.plus);
    m[4] = _mm_cmpeq_epi8(c, k.slash);
    __m128i valid = _mm_or_si128(_mm_or_si128(m[0], m[1]), _mm_or_si128(_mm_or_si128(m[2], m[3]), m[4]));
    unsigned bad = ~static_cast<unsigned>(_mm_movemask_epi8(valid)) & 0xFFFFu;
    unsigned good = bad ? static_cast<unsigned>(__builtin_ctz(bad)) : 16u;
    if (good < 4) return good;
    __m128i shift = _mm_and_si128(m[0], k.add[0]);
    for (int i = 1; i < 5; ++i) shift = _mm_or_si128(shift, _mm_and_si128(m[i], k.add[i]));
    __m128i v = _mm_add_epi8(c, shift);
    __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
    __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    __m128i out = _mm_shuffle_epi8(words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
    return good;
}

// Mail text comes in lines of whole groups: a block that stops at a line end
// keeps its whole groups, the line end is skipped, and the next block starts.
inline bool isLineSpace(unsigned char c)
{
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

HM_SSSE3 size_t decodeSsse3(const unsigned char* s, size_t n, unsigned char*& dOut)
{
    static const DecodeConstants128 k = decodeConstants128();
    unsigned char* d = dOut;
    size_t i = 0;
    size_t done = 0;  // end of the last whole group
    while (n - i >= 16) {
        unsigned good = decodeBlockSsse3(k, s + i, d);
        if (good == 16) {
            i += 16;
            d += 12;
            done = i;
            continue;
        }
        good &= ~3u;
        i += good;
        d += good / 4 * 3;
        done = i;
        if (!isLineSpace(s[i])) break;
        while (i < n && isLineSpace(s[i])) ++i;
    }
    dOut = d;
    return done;
}

HM_AVX2 DecodeConstants256 decodeConstants256()
{
    DecodeConstants256 k;
    const char lo[3] = {'A', 'a', '0'}, hi[3] = {'Z', 'z', '9'}, add[5] = {-65, -71, 4, 19, 16};
    for (int i = 0; i < 3; ++i) {
        k.lo[i] = _mm256_set1_epi8(static_cast<char>(lo[i] - 1));
        k.hi[i] = _mm256_set1_epi8(static_cast<char>(hi[i] + 1));
    }
    for (int i = 0; i < 5; ++i) k.add[i] = _mm256_set1_epi8(add[i]);
    k.plus = _mm256_set1_epi8('+');
    k.slash = _mm256_set1_epi8('/');
    return k;
}

// 32 characters into 24 bytes (writing 32); returns the alphabet prefix as above.
HM_AVX2 inline unsigned decodeBlockAvx2(const DecodeConstants256& k, const unsigned char* s, unsigned char* d)
{
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    __m256i m[5];
    for (int i = 0; i < 3; ++i) m[i] = _mm256_and_si256(_mm256_cmpgt_epi8(c, k.lo[i]), _mm256_cmpgt_epi8(k.hi[i], c));
    m[3] = _mm256_cmpeq_epi8(c, k.plus);
    m[4] = _mm256_cmpeq_epi8(c, k.slash);
    __m256i valid = _mm256_or_si256(_mm256_or_si256(m[0], m[1]), _mm256_or_si256(_mm256_or_si256(m[2], m[3]), m[4]));
    uint32_t bad = ~static_cast<uint32_t>(_mm256_movemask_epi8(valid));
    unsigned good = bad ? static_cast<unsigned>(__builtin_ctz(bad)) : 32u;
    if (good < 4) return good;
    __m256i shift = _mm256_and_si256(m[0], k.add[0]);
    for (int i = 1; i < 5; ++i) shift = _mm256_or_si256(shift, _mm256_and_si256(m[i], k.add[i]));
    __m256i v = _mm256_add_epi8(c, shift);
    __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
    __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    __m256i packed =
        _mm256_shuffle_epi8(words, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6,
                                                    5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    __m256i out = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), out);
    return good;
}

HM_AVX2 size_t decodeAvx2(const unsigned char* s, size_t n, unsigned char*& dOut)
{
    static const DecodeConstants256 k = decodeConstants256();
    unsigned char* d = dOut;
    size_t i = 0;
    size_t done = 0;
    while (n - i >= 32) {
        unsigned good = decodeBlockAvx2(k, s + i, d);
        if (good == 32) {
            i += 32;
            d += 24;
            done = i;
            continue;
        }
        good &= ~3u;
        i += good;
        d += good / 4 * 3;
        done = i;
        if (!isLineSpace(s[i])) break;
        while (i < n && isLineSpace(s[i])) ++i;
    }
    dOut = d;
    return done;
}

#endif  // HM_BASE64_X86

}  // namespace

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value: half the lookups of a 6-bit table.
struct PairTable {
    char pair[4096][2];
};
constexpr PairTable makePairs()
{
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        t.pair[v][0] = kAlphabet[v >> 6];
        t.pair[v][1] = kAlphabet[v & 63];
    }
    return t;
}
constexpr PairTable kPairs = makePairs();

// Decoding classes beyond the 6-bit values.
constexpr uint8_t kEnd = 0x80;    // "=" and NUL end the text
constexpr uint8_t kSpace = 0x81;  // CR, LF, tab, space
constexpr uint8_t kOther = 0xFF;  // outside the alphabet

constexpr std::array<uint8_t, 256> makeValues()
{
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kOther;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
    t['='] = kEnd;
    t[0] = kEnd;
    t['\r'] = kSpace;
    t['\n'] = kSpace;
    t['\t'] = kSpace;
    t[' '] = kSpace;
    return t;
}
constexpr std::array<uint8_t, 256> kValue = makeValues();

// The values of a group's four positions already in place in a 24-bit word;
// anything outside the alphabet sets bits above the 24.
constexpr uint32_t kBad = 0xFF000000u;
constexpr std::array<uint32_t, 256> makeShifted(int shift)
{
    std::array<uint32_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = kValue[c] < 64 ? static_cast<uint32_t>(kValue[c]) << shift : kBad;
    return t;
}
constexpr std::array<uint32_t, 256> kD0 = makeShifted(18);
constexpr std::array<uint32_t, 256> kD1 = makeShifted(12);
constexpr std::array<uint32_t, 256> kD2 = makeShifted(6);
constexpr std::array<uint32_t, 256> kD3 = makeShifted(0);

inline void putPair(char* d, uint32_t v12)
{
    std::memcpy(d, kPairs.pair[v12 & 0xFFF], 2);
}

}  // namespace

Base64Codec::Path Base64Codec::fastestPath()
{
#ifdef HM_BASE64_X86
    static const Path path = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) return kAvx2;
        if (__builtin_cpu_supports("ssse3")) return kSsse3;
        return kScalar;
    }();
    return path;
#else
    return kScalar;
#endif
}

char* Base64Codec::encode(const unsigned char* s, size_t n, char* d)
{
    return encode(s, n, n, d);
}

char* Base64Codec::encode(const unsigned char* s, size_t n, size_t readable, char* d, Path path)
{
    size_t i = 0;
#ifdef HM_BASE64_X86
    switch (path) {
        case kAvx2: i = encodeAvx2(s, n, readable, d); break;
        case kSsse3: i = encodeSsse3(s, n, readable, d); break;
        case kScalar: break;
    }
    d += i / 3 * 4;
#else
    (void)readable;
    (void)path;
#endif
    // Six bytes, four 12-bit lookups per step.
    for (; n - i >= 6; i += 6, d += 8) {
        uint64_t v = (static_cast<uint64_t>(s[i]) << 40) | (static_cast<uint64_t>(s[i + 1]) << 32) |
                     (static_cast<uint64_t>(s[i + 2]) << 24) | (static_cast<uint64_t>(s[i + 3]) << 16) |
                     (static_cast<uint64_t>(s[i + 4]) << 8) | static_cast<uint64_t>(s[i + 5]);
        putPair(d, static_cast<uint32_t>(v >> 36));
        putPair(d + 2, static_cast<uint32_t>(v >> 24));
        putPair(d + 4, static_cast<uint32_t>(v >> 12));
        putPair(d + 6, static_cast<uint32_t>(v));
    }
    for (; n - i >= 3; i += 3, d += 4) {
        uint32_t v = (static_cast<uint32_t>(s[i]) << 16) | (static_cast<uint32_t>(s[i + 1]) << 8) | s[i + 2];
        putPair(d, v >> 12);
        putPair(d + 2, v);
    }
    if (n - i == 1) {
        d[0] = kAlphabet[s[i] >> 2];
        d[1] = kAlphabet[(s[i] & 3) << 4];
        d[2] = '=';
        d[3] = '=';
        d += 4;
    } else if (n - i == 2) {
        d[0] = kAlphabet[s[i] >> 2];
        d[1] = kAlphabet[((s[i] & 3) << 4) | (s[i + 1] >> 4)];
        d[2] = kAlphabet[(s[i + 1] & 15) << 2];
        d[3] = '=';
        d += 4;
    }
    return d;
}

bool Base64Codec::decode(const unsigned char* s, size_t n, unsigned char* d, size_t& len, bool strict, Path path)
{
#ifndef HM_BASE64_X86
    (void)path;
#endif
    unsigned char* const d0 = d;
    uint32_t acc = 0;
    int pos = 0;
    size_t i = 0;
    bool ok = true;
    while (i < n) {
        if (pos == 0) {
#ifdef HM_BASE64_X86
            // Worth a try only where a block of the alphabet may start (not at a line end).
            switch (kValue[s[i]] < 64 ? path : kScalar) {
                case kAvx2: i += decodeAvx2(s + i, n - i, d); break;
                case kSsse3: i += decodeSsse3(s + i, n - i, d); break;
                case kScalar: break;
            }
#endif
            // Whole groups of four alphabet characters at a time.
            while (n - i >= 4) {
                uint32_t v = kD0[s[i]] | kD1[s[i + 1]] | kD2[s[i + 2]] | kD3[s[i + 3]];
                if (v & kBad) break;
                d[0] = static_cast<unsigned char>(v >> 16);
                d[1] = static_cast<unsigned char>(v >> 8);
                d[2] = static_cast<unsigned char>(v);
                d += 3;
                i += 4;
            }
            if (i >= n) break;
        }
        uint8_t v = kValue[s[i++]];
        if (v < 64) {
            acc = (acc << 6) | v;
            if (++pos == 4) {
                d[0] = static_cast<unsigned char>(acc >> 16);
                d[1] = static_cast<unsigned char>(acc >> 8);
                d[2] = static_cast<unsigned char>(acc);
                d += 3;
                acc = 0;
                pos = 0;
            }
        } else if (v == kEnd) {
            break;
        } else if (v == kOther && strict) {
            ok = false;
            break;
        }
    }
    if (pos == 2) {
        *d++ = static_cast<unsigned char>(acc >> 4);
    } else if (pos == 3) {
        d[0] = static_cast<unsigned char>(acc >> 10);
        d[1] = static_cast<unsigned char>(acc >> 2);
        d += 2;
    }
    len = static_cast<size_t>(d - d0);
    return ok;
}

}  // namespace hanamail
