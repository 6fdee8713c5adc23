#include "charset/Utf16Codec.h"

#include "charset/ScratchOutput.h"
#include "foundation/DataBuffer.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define HM_HAVE_SSE2 1
#endif

namespace {

inline bool isCont(unsigned char b) { return (b & 0xC0) == 0x80; }

inline void putUnit(unsigned char*& d, uint32_t u)
{
    d[0] = static_cast<unsigned char>(u);
    d[1] = static_cast<unsigned char>(u >> 8);
    d += 2;
}

#ifdef HM_HAVE_SSE2
inline int lowestBit(unsigned mask) { return __builtin_ctz(mask); }
#endif

}  // namespace

uint32_t Utf16Codec::fromUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d)
{
    unsigned char* const start = d;
    uint32_t i = 0;
    while (i < n) {
        const unsigned c = s[i];
        if (c < 0x80) {
#ifdef HM_HAVE_SSE2
            if (n - i >= 16 && s[i + 1] < 0x80) {
                // Widen 16 bytes at once; the output has room for 2 * (n - i) bytes,
                // so writing all 32 is safe even when only the leading ASCII counts.
                const __m128i zero = _mm_setzero_si128();
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi8(v, zero));
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
                const uint32_t k = mask == 0 ? 16u : static_cast<uint32_t>(lowestBit(mask));
                i += k;
                d += 2 * k;
                continue;
            }
#endif
            putUnit(d, c);
            ++i;
            continue;
        }
        if (c >= 0xE0) {
            if (c < 0xF0) {
                // Runs of 3-byte characters (most CJK text) stay in this loop.
                bool took = false;
                while (n - i >= 3) {
                    const unsigned l = s[i], c1 = s[i + 1], c2 = s[i + 2];
                    if ((l & 0xF0) != 0xE0 || !isCont(static_cast<unsigned char>(c1)) ||
                        !isCont(static_cast<unsigned char>(c2)) || (l == 0xE0 && c1 < 0xA0))
                        break;
                    putUnit(d, ((l & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F));
                    i += 3;
                    took = true;
                }
                if (took)
                    continue;
            } else if (c <= 0xF4 && n - i >= 4) {
                const unsigned c1 = s[i + 1], c2 = s[i + 2], c3 = s[i + 3];
                const unsigned lo = c == 0xF0 ? 0x90 : 0x80;
                const unsigned hi = c == 0xF4 ? 0x8F : 0xBF;
                if (c1 >= lo && c1 <= hi && isCont(static_cast<unsigned char>(c2)) &&
                    isCont(static_cast<unsigned char>(c3))) {
                    const uint32_t cp = ((c & 0x07) << 18) | ((c1 & 0x3F) << 12) | ((c2 & 0x3F) << 6) | (c3 & 0x3F);
                    putUnit(d, 0xD800 + ((cp - 0x10000) >> 10));
                    putUnit(d, 0xDC00 + ((cp - 0x10000) & 0x3FF));
                    i += 4;
                    continue;
                }
            }
        } else if (c >= 0xC2 && n - i >= 2 && isCont(s[i + 1])) {
            putUnit(d, ((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
            i += 2;
            continue;
        }
        // Invalid or cut off: lose the first byte, resynchronise at the next.
        ++i;
    }
    return static_cast<uint32_t>(d - start);
}

uint32_t Utf16Codec::toUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d)
{
    unsigned char* const start = d;
    const uint32_t units = n / 2;
    uint32_t i = 0;
    while (i < units) {
        const uint32_t u = s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
        if (u < 0x80) {
#ifdef HM_HAVE_SSE2
            if (units - i >= 8) {
                // Eight units at once; the output has room for 3 * (units - i) bytes.
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
                const __m128i high = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
                const unsigned ascii =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
                const uint32_t k = ascii == 0xFFFF ? 8u : static_cast<uint32_t>(lowestBit(~ascii)) / 2;
                i += k;
                d += k;
                continue;
            }
#endif
            *d++ = static_cast<unsigned char>(u);
            ++i;
            continue;
        }
        if (u < 0x800) {
            d[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
            d[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            d += 2;
            ++i;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t v = s[2 * i + 2] | (uint32_t(s[2 * i + 3]) << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                const uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
                d[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
                d[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
                d[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
                d[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
                d += 4;
                i += 2;
                continue;
            }
        }
        // BMP characters and unpaired surrogates alike take three bytes; runs of
        // them (CJK text) stay in this loop.
        d[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
        d[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        d[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        d += 3;
        ++i;
        while (i < units) {
            const uint32_t w = s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
            if (w < 0x800 || (w >= 0xD800 && w <= 0xDFFF))
                break;
            d[0] = static_cast<unsigned char>(0xE0 | (w >> 12));
            d[1] = static_cast<unsigned char>(0x80 | ((w >> 6) & 0x3F));
            d[2] = static_cast<unsigned char>(0x80 | (w & 0x3F));
            d += 3;
            ++i;
        }
    }
    return static_cast<uint32_t>(d - start);
}

bool Utf16Codec::fromUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0)
        return true;
    ScratchOutput room(uint64_t(n) * 2, out);
    if (room.data() == nullptr)
        return false;
    return room.commit(fromUtf8Raw(s, n, room.data()), out);
}

bool Utf16Codec::toUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0)
        return true;
    const bool even = (n % 2) == 0;
    if (n < 2)
        return false;
    ScratchOutput room(uint64_t(n / 2) * 3, out);
    if (room.data() == nullptr)
        return false;
    return room.commit(toUtf8Raw(s, n, room.data()), out) && even;
}

bool Utf16Codec::swapBytes(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0)
        return true;
    const uint32_t even = n & ~1u;
    if (even != 0) {
        ScratchOutput room(even, out);
        unsigned char* d = room.data();
        if (d == nullptr)
            return false;
        for (uint32_t i = 0; i < even; i += 2) {
            d[i] = s[i + 1];
            d[i + 1] = s[i];
        }
        if (!room.commit(even, out))
            return false;
    }
    return even == n;
}
