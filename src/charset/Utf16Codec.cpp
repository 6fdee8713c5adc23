// UTF-16 in both byte orders (RFC 2781).
#include "charset/Utf16Codec.h"

#include "charset/ScratchOutput.h"
#include "charset/Utf8Scan.h"
#include "foundation/DataBuffer.h"

#include <cstring>

namespace hanamail {

namespace {

inline void putUnit(unsigned char*& d, uint32_t u)
{
    d[0] = static_cast<unsigned char>(u);
    d[1] = static_cast<unsigned char>(u >> 8);
    d += 2;
}

// UTF-16LE output of the UTF-8 reader.
struct Utf16Sink {
    unsigned char* d;
    void unit(uint32_t u) { putUnit(d, u); }
    void ascii16(const unsigned char* p)
    {
        utf8scan::widenAscii16(p, d);
        d += 32;
    }
    void run(const unsigned char* p, uint32_t count, uint32_t last)
    {
        // Whole groups of 16, at least two (the room allows the overshoot;
        // most runs then take no branch), then the last unit over the
        // widened lead byte.
        utf8scan::widenAscii16(p, d);
        utf8scan::widenAscii16(p + 16, d + 32);
        for (uint32_t k = 32; k < count; k += 16) utf8scan::widenAscii16(p + k, d + 2 * k);
        d += 2 * count;
        d[-2] = static_cast<unsigned char>(last);
        d[-1] = static_cast<unsigned char>(last >> 8);
    }
};

inline uint32_t unitAt(const unsigned char* s, uint32_t i)
{
    return s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
}

// Units i.. up to (at least) stop, each written exactly: a high surrogate
// followed by a low one is one character; any other surrogate stands alone.
uint32_t toUtf8Exact(const unsigned char* s, uint32_t i, uint32_t stop, uint32_t units, const uint32_t* words,
                     unsigned char*& d)
{
    while (i < stop) {
        const uint32_t u = unitAt(s, i);
        const uint32_t w = words[u];
        if ((w >> 24) != 0) {
            const uint32_t len = w >> 24;
            d[0] = static_cast<unsigned char>(w);
            if (len > 1) d[1] = static_cast<unsigned char>(w >> 8);
            if (len > 2) d[2] = static_cast<unsigned char>(w >> 16);
            d += len;
            ++i;
            continue;
        }
        if (u <= 0xDBFF && i + 1 < units) {
            const uint32_t v = unitAt(s, i + 1);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                utf8out::putPair(d, u, v);
                i += 2;
                continue;
            }
        }
        utf8out::putLone(d, u);
        ++i;
    }
    return i;
}

const uint32_t* buildWordTable()
{
    static uint32_t table[65536];
    for (uint32_t u = 0; u < 65536; ++u) {
        uint32_t w;
        if (u < 0x80)
            w = u | 1u << 24;
        else if (u < 0x800)
            w = (0xC0 | (u >> 6)) | (0x80 | (u & 0x3F)) << 8 | 2u << 24;
        else if (u >= 0xD800 && u <= 0xDFFF)
            w = 0;
        else
            w = (0xE0 | (u >> 12)) | (0x80 | ((u >> 6) & 0x3F)) << 8 | (0x80 | (u & 0x3F)) << 16 | 3u << 24;
        table[u] = w;
    }
    return table;
}

}  // namespace

const uint32_t* utf8out::wordTable()
{
    static const uint32_t* const table = buildWordTable();
    return table;
}

uint32_t Utf16Codec::fromUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d)
{
    Utf16Sink sink{d};
    utf8scan::scan(s, 0, n, n, sink);
    return static_cast<uint32_t>(sink.d - d);
}

uint32_t Utf16Codec::toUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d)
{
    const uint32_t* const words = utf8out::wordTable();
    unsigned char* w = d;
    const uint32_t units = n / 2;
    uint32_t i = 0;
    // Eight units at a time, each storing four bytes and keeping one to
    // three: with a unit more after the eight there is always room.
    while (units - i > 8) {
#ifdef HM_UTF8SCAN_SSE2
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
        const __m128i zero = _mm_setzero_si128();
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), zero)) ==
            0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_packus_epi16(v, v));
            i += 8;
            w += 8;
            continue;
        }
        const __m128i sur = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800))),
                                            _mm_set1_epi16(static_cast<short>(0xD800)));
        if (_mm_movemask_epi8(sur) != 0) {
            i = toUtf8Exact(s, i, i + 8, units, words, w);
            continue;
        }
        for (uint32_t k = 0; k < 8; ++k) {
            const uint32_t x = words[unitAt(s, i + k)];
            std::memcpy(w, &x, 4);
            w += x >> 24;
        }
        i += 8;
#else
        const uint32_t x = words[unitAt(s, i)];
        if ((x >> 24) == 0) {
            i = toUtf8Exact(s, i, i + 1, units, words, w);
            continue;
        }
        std::memcpy(w, &x, 4);
        w += x >> 24;
        ++i;
#endif
    }
    toUtf8Exact(s, i, units, units, words, w);
    return static_cast<uint32_t>(w - d);
}

bool Utf16Codec::fromUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    ScratchOutput room(uint64_t(n) * 2, out);
    if (room.data() == nullptr) return false;
    return room.commit(fromUtf8Raw(s, n, room.data()), out);
}

bool Utf16Codec::toUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    const bool even = (n % 2) == 0;
    if (n < 2) return false;
    ScratchOutput room(uint64_t(n / 2) * 3, out);
    if (room.data() == nullptr) return false;
    return room.commit(toUtf8Raw(s, n, room.data()), out) && even;
}

bool Utf16Codec::swapBytes(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (s == nullptr || n == 0) return true;
    const uint32_t even = n & ~1u;
    if (even != 0) {
        ScratchOutput room(even, out);
        unsigned char* d = room.data();
        if (d == nullptr) return false;
        for (uint32_t i = 0; i < even; i += 2) {
            d[i] = s[i + 1];
            d[i + 1] = s[i];
        }
        if (!room.commit(even, out)) return false;
    }
    return even == n;
}

}  // namespace hanamail
