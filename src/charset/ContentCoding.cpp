// Transfer codings of bodies (base64 and quoted-printable, RFC 2045 section 6)
// and the encoded words of header text (RFC 2047), with RFC 2231 parameter
// values.
#include "charset/ContentCoding.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "charset/Base64Codec.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kFold[] = "\r\n\t";

// An encoded word may be 75 characters long at most (RFC 2047 section 2), its
// charset name and "=?", "?B?", "?=" included. Text is cut into words of at
// most this many UTF-16 units: 12 units are at most 36 UTF-8 bytes, 48
// base64 characters; 17 units of a one-byte charset are at most 51 characters
// in Q form. Both leave room for the longest charset label written.
constexpr uint32_t kUnitsPerBWord = 12;
constexpr uint32_t kUnitsPerQWord = 17;
// gb18030 writes up to four bytes per unit: fewer units keep its words within
// 75 characters (9 units, 36 bytes, in 48 base64 characters; 5 in Q).
constexpr uint32_t kGb18030UnitsPerBWord = 9;
constexpr uint32_t kGb18030UnitsPerQWord = 5;
// Shorter text than this (in bytes) fits one word whatever it holds: 23
// bytes are 32 base64 characters, 34 bytes at most about 34 Q characters of
// plain text, which readers see more often than escaped bytes.
constexpr uint32_t kOneBWordBytes = 24;
constexpr uint32_t kOneQWordBytes = 35;
// How far encodeWordAuto looks for a "?Q?" or "?B?" that says the text is
// already an encoded word: a charset name never runs longer.
constexpr uint32_t kEncodedWordScan = 100;

const char* const kBWordCharsets[] = {
    "shift_jis",    "shift-jis",  "iso-2022-jp",  "euc-jp",  "euc-kr",  "iso-2022-kr", "gb2312",      "euc-cn",
    "cp-936",       "euc-tw",     "big5",         "cp-950",  "cp-932",  "tis-620",     "windows-874", "iso-8859-9",
    "windows-1254", "iso-8859-6", "windows-1256", "cp-1256", "gb18030", "hz-gb-2312",
};

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsIgnoreCase(const char* a, size_t aLen, const char* b)
{
    size_t bLen = std::strlen(b);
    if (aLen != bLen) return false;
    for (size_t i = 0; i < aLen; ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// Hex value of '0'-'9' and 'A'-'F', else -1. Escapes are written in upper
// case; a lower-case pair is more often plain text such as "x=ab" in a URL.
constexpr std::array<int8_t, 256> makeHexValues()
{
    std::array<int8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = -1;
    for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) t['A' + i] = static_cast<int8_t>(10 + i);
    return t;
}
constexpr std::array<int8_t, 256> kHexUpper = makeHexValues();

// Quoted-printable classes of a byte.
enum : uint8_t { kQpLiteral, kQpBlank, kQpCr, kQpEscape };
constexpr std::array<uint8_t, 256> makeQpClasses()
{
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = (c >= 0x21 && c <= 0x7E && c != '=') ? kQpLiteral : kQpEscape;
    t[' '] = kQpBlank;
    t['\t'] = kQpBlank;
    t['\r'] = kQpCr;
    return t;
}
constexpr std::array<uint8_t, 256> kQpClass = makeQpClasses();

// Bytes an encoded word may carry as they are in the Q form ('=', '?', '_' excluded).
constexpr bool isQPlain(unsigned c)
{
    return (c >= 0x21 && c <= 0x3C) || c == 0x3E || (c >= 0x40 && c <= 0x5E) || (c >= 0x60 && c <= 0x7E);
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// True when all eight bytes lie in 0x20-0x7E and none is "=".
inline bool allPlainAscii(uint64_t x)
{
    uint64_t below = (x - kOnes * 0x20) & ~x;  // a byte below 0x20
    uint64_t above = (x + kOnes * 0x01) | x;   // a byte of 0x7F or more
    uint64_t eq = x ^ (kOnes * '=');
    uint64_t isEq = (eq - kOnes) & ~eq;
    return ((below | above | isEq) & kHighs) == 0;
}

inline char* putEscape(char* d, unsigned char c)
{
    d[0] = '=';
    d[1] = kHex[c >> 4];
    d[2] = kHex[c & 15];
    return d + 3;
}

// A soft line break ("=" CR LF) once the line is full, unless the rest of the
// input starts with a line end of its own. True when one was written.
inline bool softBreakIfFull(char*& d, int32_t& col, int32_t maxCol, const unsigned char* rest, uint32_t left)
{
    if (col < maxCol || (left > 1 && rest[0] == '\r' && rest[1] == '\n')) return false;
    d[0] = '=';
    d[1] = '\r';
    d[2] = '\n';
    d += 3;
    col = 0;
    return true;
}

bool appendBytes(StringBuffer& out, const void* p, size_t n)
{
    if (n >= static_cast<size_t>(StringBuffer::kMaxLength)) {
        out.markFailed(BufferFailure::TooLarge);
        return false;
    }
    return out.appendN(static_cast<const char*>(p), static_cast<int32_t>(n));
}

const char* findPair(const char* s, size_t n, char a, char b)
{
    while (n >= 2) {
        const char* p = static_cast<const char*>(std::memchr(s, a, n - 1));
        if (!p) return nullptr;
        if (p[1] == b) return p;
        n -= static_cast<size_t>(p + 1 - s);
        s = p + 1;
    }
    return nullptr;
}

// Walks text, handing plain stretches to onText and each well-formed encoded
// word to onWord(charset, charsetLen, letter, encoded, encodedLen). A "=?" that
// does not open a well-formed word is plain text.
template <typename OnText, typename OnWord>
void scanEncodedWords(const char* s, size_t n, OnText onText, OnWord onWord)
{
    size_t copied = 0;
    size_t from = 0;
    while (from < n) {
        const char* open = findPair(s + from, n - from, '=', '?');
        if (!open) break;
        size_t p = static_cast<size_t>(open - s);
        size_t csStart = p + 2;
        from = csStart;
        const char* q = static_cast<const char*>(std::memchr(s + csStart, '?', n - csStart));
        if (!q) break;  // no "?" anywhere further, so no word can follow either
        size_t letterAt = static_cast<size_t>(q - s) + 1;
        if (letterAt + 1 >= n || s[letterAt + 1] != '?') continue;
        size_t textStart = letterAt + 2;
        const char* close = findPair(s + textStart, n - textStart, '?', '=');
        if (!close) continue;
        onText(s + copied, p - copied);
        onWord(s + csStart, letterAt - 1 - csStart, s[letterAt], s + textStart,
               static_cast<size_t>(close - s) - textStart);
        copied = from = static_cast<size_t>(close - s) + 2;
    }
    onText(s + copied, n - copied);
}

}  // namespace

// ---- base64 ----

bool ContentCoding::encodeBase64(const void* bytes, uint32_t n, StringBuffer& out) const
{
    if (!bytes || n == 0) return true;
    const auto* s = static_cast<const unsigned char*>(bytes);
    const uint32_t groupsPerLine = m_maxLineLength > 4 ? static_cast<uint32_t>(m_maxLineLength + 3) / 4 : 1;
    const uint64_t lineBytes = 3ull * groupsPerLine;
    const uint64_t fullGroups = n / 3u;
    const uint64_t total = Base64Codec::encodedLength(n) + 2 * (fullGroups / groupsPerLine + 1);
    if (total >= static_cast<uint64_t>(StringBuffer::kMaxLength)) {
        out.markFailed(BufferFailure::TooLarge);
        return false;
    }
    char* d0 = out.reserveAppend(static_cast<int32_t>(total));
    if (!d0) return false;
    char* d = d0;
    uint64_t i = 0;
    for (; i + lineBytes <= n; i += lineBytes) {
        d = Base64Codec::encode(s + i, static_cast<size_t>(lineBytes), static_cast<size_t>(n - i), d);
        d[0] = '\r';
        d[1] = '\n';
        d += 2;
    }
    d = Base64Codec::encode(s + i, static_cast<size_t>(n - i), d);
    d[0] = '\r';
    d[1] = '\n';
    d += 2;
    out.commitAppend(static_cast<int32_t>(d - d0));
    return true;
}

bool ContentCoding::encodeBase64Flat(const void* bytes, uint32_t n, StringBuffer& out) const
{
    if (!bytes || n == 0) return true;
    uint64_t total = Base64Codec::encodedLength(n);
    if (total >= static_cast<uint64_t>(StringBuffer::kMaxLength)) {
        out.markFailed(BufferFailure::TooLarge);
        return false;
    }
    char* d0 = out.reserveAppend(static_cast<int32_t>(total));
    if (!d0) return false;
    char* d = Base64Codec::encode(static_cast<const unsigned char*>(bytes), n, d0);
    out.commitAppend(static_cast<int32_t>(d - d0));
    return true;
}

char* ContentCoding::encodeBase64ToNew(const void* bytes, uint32_t n, uint32_t& count) const
{
    count = 0;
    if (!bytes || n == 0) return nullptr;
    uint64_t total = Base64Codec::encodedLength(n);
    if (total > DataBuffer::kMaxSize) return nullptr;
    char* d0 = static_cast<char*>(std::malloc(static_cast<size_t>(total) + 1));
    if (!d0) return nullptr;
    char* d = Base64Codec::encode(static_cast<const unsigned char*>(bytes), n, d0);
    *d = '\0';
    count = static_cast<uint32_t>(d - d0);
    return d0;
}

unsigned char* ContentCoding::decodeBase64(const char* text, uint32_t n, uint32_t& count) const
{
    count = 0;
    if (!text || n == 0) return nullptr;
    auto* d = static_cast<unsigned char*>(std::malloc(Base64Codec::decodedBound(n) + 1));
    if (!d) return nullptr;
    size_t len = 0;
    Base64Codec::decode(reinterpret_cast<const unsigned char*>(text), n, d, len, false);
    d[len] = 0;
    count = static_cast<uint32_t>(len);
    return d;
}

bool ContentCoding::decodeBase64ToString(const char* text, StringBuffer& out) const
{
    if (!text) return true;
    size_t n = std::strlen(text);
    if (n == 0) return true;
    if (n > DataBuffer::kMaxSize) return false;
    uint32_t count = 0;
    unsigned char* d = decodeBase64(text, static_cast<uint32_t>(n), count);
    if (!d) return false;
    bool ok = appendBytes(out, d, count);
    std::free(d);
    return ok;
}

bool ContentCoding::decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out) const
{
    if (!text || n == 0) {
        out.clear();
        return true;
    }
    auto* d = static_cast<unsigned char*>(std::malloc(Base64Codec::decodedBound(n) + 1));
    if (!d) return false;
    size_t len = 0;
    if (!Base64Codec::decode(reinterpret_cast<const unsigned char*>(text), n, d, len, true)) {
        std::free(d);
        return false;
    }
    out.takeOwnership(d, static_cast<uint32_t>(len));
    return true;
}

// ---- quoted-printable ----

bool ContentCoding::encodeQuotedPrintable(const void* bytes, uint32_t n, StringBuffer& out) const
{
    if (!bytes || n == 0) return true;
    const auto* s = static_cast<const unsigned char*>(bytes);
    const int32_t maxCol = m_maxLineLength;
    // Mostly text: most bytes are copied. Binary input grows the buffer as it goes.
    // Only a hint, so it is skipped where it would pass the size limit; the
    // blocks below reserve what they need and fail when that cannot be had.
    uint64_t expected = static_cast<uint64_t>(n) + n / 16u + 8u;
    uint64_t limit = BufferLimit::maxBytes() < static_cast<uint32_t>(StringBuffer::kMaxLength)
                         ? BufferLimit::maxBytes()
                         : static_cast<uint64_t>(StringBuffer::kMaxLength);
    if (static_cast<uint64_t>(out.getSize()) + expected < limit && !out.reserveAppend(static_cast<int32_t>(expected)))
        return false;

    constexpr uint32_t kBlock = 16384;
    int32_t col = 0;
    bool afterFF = false;  // the last thing written was the escape "=FF"
    uint32_t i = 0;
    while (i < n) {
        uint32_t blockEnd = n - i > kBlock ? i + kBlock : n;
        // Worst case of one block: every byte escaped, a soft break per 24 input
        // bytes, and a run of plain bytes reaching past the block by up to a line.
        const uint32_t blockLen = blockEnd - i;
        const int32_t blockRoom = static_cast<int32_t>(blockLen * 3 + (blockLen / 24 + 2) * 3 + 256);
        char* d0 = out.reserveAppend(blockRoom);
        if (!d0) return false;
        char* d = d0;
        while (i < blockEnd) {
            unsigned char c = s[i];
            if (col > 0 && !afterFF && col < maxCol) {
                // A run of bytes that are copied as they are, up to the line limit.
                uint32_t j = i;
                const uint32_t stop = n - i > static_cast<uint32_t>(maxCol - col) ? i + (maxCol - col) : n;
                // Eight at a time while they are all printable ASCII other than "=", and
                // the last is not a blank that a CR LF follows (the byte loop decides that).
                while (stop - j >= 9) {
                    uint64_t x;
                    std::memcpy(&x, s + j, 8);
                    if (!allPlainAscii(x) || (s[j + 7] == ' ' && s[j + 8] == '\r')) break;
                    std::memcpy(d, &x, 8);
                    d += 8;
                    j += 8;
                }
                while (j < stop) {
                    unsigned char b = s[j];
                    uint8_t cls = kQpClass[b];
                    if (cls != kQpLiteral &&
                        (cls != kQpBlank || n - j == 1 || (n - j > 2 && s[j + 1] == '\r' && s[j + 2] == '\n')))
                        break;
                    *d++ = static_cast<char>(b);
                    ++j;
                }
                if (j > i) {
                    col += static_cast<int32_t>(j - i);
                    i = j;
                    softBreakIfFull(d, col, maxCol, s + i, n - i);
                    continue;
                }
            }
            if (col == 0 && (c == '.' || (c == 'F' && n - i > 4 && std::memcmp(s + i + 1, "rom ", 4) == 0))) {
                // A lone "." line ends an SMTP message; "From " at a line start gets mangled by mailboxes.
                d = putEscape(d, c);
                col = 3;
                ++i;
            } else {
                switch (kQpClass[c]) {
                    case kQpLiteral:
                    case kQpBlank: {
                        // "=FF" followed by "FFFF" is read back as an old escape form, so break the
                        // run; white space at a line end would be lost in transport.
                        const bool escape = kQpClass[c] == kQpLiteral
                                                ? c == 'F' && afterFF && n - i > 3 && s[i + 1] == 'F' &&
                                                      s[i + 2] == 'F' && s[i + 3] == 'F'
                                                : n - i == 1 || (n - i > 2 && s[i + 1] == '\r' && s[i + 2] == '\n');
                        if (escape) {
                            d = putEscape(d, c);
                            col += 3;
                        } else {
                            *d++ = static_cast<char>(c);
                            ++col;
                        }
                        ++i;
                        break;
                    }
                    case kQpCr:
                        if (n - i > 1 && s[i + 1] == '\n') {
                            d[0] = '\r';
                            d[1] = '\n';
                            d += 2;
                            col = 0;
                            i += 2;
                        } else {
                            d = putEscape(d, c);
                            col += 3;
                            ++i;
                        }
                        break;
                    default:
                        d = putEscape(d, c);
                        col += 3;
                        ++i;
                        break;
                }
            }
            afterFF = c == 0xFF;
            if (softBreakIfFull(d, col, maxCol, s + i, n - i)) afterFF = false;
        }
        out.commitAppend(static_cast<int32_t>(d - d0));
    }
    return true;
}

bool ContentCoding::decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out) const
{
    if (!text || n == 0 || text[0] == '\0') return false;
    const char* nul = static_cast<const char*>(std::memchr(text, 0, n));
    const size_t len = nul ? static_cast<size_t>(nul - text) : n;
    // Only a line end can grow (LF becomes CR LF).
    const size_t bound = 2 * len + 1;
    auto* d0 = static_cast<unsigned char*>(std::malloc(bound));
    if (!d0) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* const end = p + len;
    unsigned char* d = d0;
    // Raw white space after this point is dropped at a line end; what escapes
    // produced before it is kept.
    unsigned char* keep = d;
    auto trimLine = [&] {
        while (d > keep && (d[-1] == ' ' || d[-1] == '\t' || d[-1] == '\r')) --d;
    };
    while (p < end) {
        bool found = false;
#ifdef __SSE2__
        // Sixteen at a time where the processor has it (every x86-64 does).
        while (end - p >= 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), x);
            unsigned hits16 = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('=')), _mm_cmpeq_epi8(x, _mm_set1_epi8('\n')))));
            if (hits16) {
                unsigned plain = static_cast<unsigned>(std::countr_zero(hits16));
                d += plain;
                p += plain;
                found = true;
                break;
            }
            d += 16;
            p += 16;
        }
#endif
        // Plain bytes eight at a time, up to the next "=" or LF.
        while (!found && end - p >= 8) {
            uint64_t x;
            std::memcpy(&x, p, 8);
            const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
            uint64_t eq = x ^ (ones * '='), lf = x ^ (ones * '\n');
            uint64_t hits = ((eq - ones) & ~eq & highs) | ((lf - ones) & ~lf & highs);
            std::memcpy(d, p, 8);  // room: the output never runs ahead of the input by more than its line ends
            if (hits) {
                // The lowest hit is exact: false hits only follow a true one.
                size_t plain = std::endian::native == std::endian::little ? std::countr_zero(hits) / 8u : 0;
                d += plain;
                p += plain;
                break;
            }
            d += 8;
            p += 8;
        }
        if (p == end) break;
        unsigned char c = *p;
        if (c == '\n') {
            trimLine();
            d[0] = '\r';
            d[1] = '\n';
            d += 2;
            keep = d;
            ++p;
            continue;
        }
        if (c != '=') {
            *d++ = c;
            ++p;
            continue;
        }
        size_t left = static_cast<size_t>(end - p) - 1;  // characters after the "="
        int hi = left >= 2 ? kHexUpper[p[1]] : -1;
        int lo = left >= 2 ? kHexUpper[p[2]] : -1;
        if (hi >= 0 && lo >= 0) {
            // Old writers padded escapes as "=FFFFFFxx".
            if (hi == 15 && lo == 15 && left >= 8 && std::memcmp(p + 3, "FFFF", 4) == 0 && kHexUpper[p[7]] >= 0 &&
                kHexUpper[p[8]] >= 0) {
                *d++ = static_cast<unsigned char>(kHexUpper[p[7]] * 16 + kHexUpper[p[8]]);
                p += 9;
            } else {
                *d++ = static_cast<unsigned char>(hi * 16 + lo);
                p += 3;
            }
            keep = d;
            continue;
        }
        // "=" ending its line (white space aside) is a soft line break.
        const unsigned char* q = p + 1;
        while (q < end && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
        if (q == end || *q == '\n') {
            p = q == end ? end : q + 1;
            keep = d;
            continue;
        }
        // Not an escape: plain text such as "x=ab" in a URL.
        *d++ = '=';
        ++p;
    }
    trimLine();
    *d = 0;
    size_t size = static_cast<size_t>(d - d0);
    if (size > DataBuffer::kMaxSize) {
        std::free(d0);
        return false;
    }
    if (bound - size > size / 8 + 4096) {
        if (auto* shrunk = static_cast<unsigned char*>(std::realloc(d0, size + 1))) d0 = shrunk;
    }
    out.takeOwnership(d0, static_cast<uint32_t>(size));
    return true;
}

// ---- Q encoding ----

char* ContentCoding::encodeQ(const void* bytes, uint32_t n, uint32_t& count) const
{
    count = 0;
    if (!bytes || n == 0) return nullptr;
    const uint64_t bound = 3ull * n + 1;
    if (bound > DataBuffer::kMaxSize) return nullptr;
    char* d0 = static_cast<char*>(std::malloc(static_cast<size_t>(bound)));
    if (!d0) return nullptr;
    char* d = d0;
    const auto* s = static_cast<const unsigned char*>(bytes);
    for (uint32_t i = 0; i < n; ++i) {
        unsigned char c = s[i];
        if (isQPlain(c))
            *d++ = static_cast<char>(c);
        else if (c == ' ')
            *d++ = '_';
        else
            d = putEscape(d, c);
    }
    *d = '\0';
    count = static_cast<uint32_t>(d - d0);
    return d0;
}

unsigned char* ContentCoding::decodeQ(const char* text, int32_t n, uint32_t& count) const
{
    count = 0;
    if (!text) return nullptr;
    size_t len = n > 0 ? static_cast<size_t>(n) : std::strlen(text);
    if (len == 0 || len > DataBuffer::kMaxSize) return nullptr;
    auto* d0 = static_cast<unsigned char*>(std::malloc(len + 1));
    if (!d0) return nullptr;
    unsigned char* d = d0;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = s[i];
        if (isQPlain(c) || c >= 0xA0) {
            *d++ = c;
        } else if (c == '_') {
            *d++ = ' ';
        } else if (c == '=') {
            if (len - i > 2 && kHexUpper[s[i + 1]] >= 0 && kHexUpper[s[i + 2]] >= 0) {
                *d++ = static_cast<unsigned char>(kHexUpper[s[i + 1]] * 16 + kHexUpper[s[i + 2]]);
                i += 2;
            } else {
                *d++ = '=';
            }
        }
        // Controls, space, '?' and 0x7F-0x9F cannot appear in a word: dropped.
    }
    *d = 0;
    count = static_cast<uint32_t>(d - d0);
    return d0;
}

// ---- encoded words ----

void ContentCoding::encodeBWord(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const
{
    if (!bytes || n == 0 || !charset) return;
    out << "=?" << charset << "?B?";
    // A failure is recorded in out, which the caller checks.
    (void)encodeBase64Flat(bytes, n, out);
    out << "?=";
}

void ContentCoding::encodeQWord(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const
{
    if (!bytes || n == 0 || !charset) return;
    uint32_t count = 0;
    char* q = encodeQ(bytes, n, count);
    if (!q) {
        // bytes is not empty, so the encoded text could not be made.
        out.markFailed(3ull * n + 1 > DataBuffer::kMaxSize ? BufferFailure::TooLarge : BufferFailure::OutOfMemory);
        return;
    }
    out << "=?" << charset << "?Q?" << std::string_view(q, count) << "?=";
    std::free(q);
}

void ContentCoding::encodeBWords(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const
{
    encodeWords(static_cast<const unsigned char*>(bytes), n, charset, true, out);
}

void ContentCoding::encodeQWords(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const
{
    encodeWords(static_cast<const unsigned char*>(bytes), n, charset, false, out);
}

void ContentCoding::encodeWords(const unsigned char* bytes, uint32_t n, const char* charset, bool bForm,
                                StringBuffer& out) const
{
    if (!bytes || n == 0 || !charset) return;
    auto writeWord = [&](const void* p, uint32_t len) {
        if (bForm)
            encodeBWord(p, len, charset, out);
        else
            encodeQWord(p, len, charset, out);
    };
    if (n < (bForm ? kOneBWordBytes : kOneQWordBytes)) {
        writeWord(bytes, n);
        return;
    }
    bool first = true;
    auto nextWord = [&](const void* p, uint32_t len) {
        if (len == 0) return;
        if (!first) out << kFold;
        first = false;
        writeWord(p, len);
    };

    int cp = charsetToCodePage(charset);
    if (cp == 0) cp = kUtf8;
    const uint32_t unitsPerWord = cp == kGb18030 ? (bForm ? kGb18030UnitsPerBWord : kGb18030UnitsPerQWord)
                                                 : (bForm ? kUnitsPerBWord : kUnitsPerQWord);
    if (!EncodingConvert::canConvert(cp)) {
        // Characters of this charset cannot be told apart; keep every byte, in word-sized pieces.
        for (uint32_t i = 0; i < n; i += 2 * unitsPerWord)
            nextWord(bytes + i, n - i < 2 * unitsPerWord ? n - i : 2 * unitsPerWord);
        return;
    }

    EncodingConvert ec;
    DataBuffer utf16;
    // The result only tells of lossy text, which is encoded as converted.
    (void)ec.convert(cp, kUtf16, bytes, n, utf16);
    if (utf16.hasFailed()) {
        out.markFailed(utf16.failure());
        return;
    }
    const uint32_t units = utf16.getSize() / 2;
    const unsigned char* u = utf16.getData();
    DataBuffer chunk;
    for (uint32_t i = 0; i < units;) {
        uint32_t take = units - i < unitsPerWord ? units - i : unitsPerWord;
        if (i + take < units) {
            uint32_t last = i + take - 1;
            unsigned unit = u[2 * last] | (u[2 * last + 1] << 8);
            if (unit >= 0xD800 && unit <= 0xDBFF) --take;  // keep a surrogate pair in one word
        }
        chunk.clear();
        // Each piece on its own, so stateful charsets (ISO-2022) open and close in every word.
        (void)ec.convert(kUtf16, cp, u + 2 * i, take * 2, chunk);  // lossy text is encoded as converted
        if (chunk.hasFailed()) {
            out.markFailed(chunk.failure());
            return;
        }
        nextWord(chunk.getData(), chunk.getSize());
        i += take;
    }
}

void ContentCoding::encodeWordAuto(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const
{
    if (!bytes || n == 0) return;
    const auto* s = static_cast<const char*>(bytes);
    const uint32_t scan = n < kEncodedWordScan ? n : kEncodedWordScan;
    for (uint32_t i = 0; i + 3 <= scan; ++i) {
        char letter = asciiLower(s[i + 1]);
        if (s[i] == '?' && s[i + 2] == '?' && (letter == 'q' || letter == 'b')) {
            out << std::string_view(s, n);
            return;
        }
    }
    if (isBWordCharset(charset))
        encodeBWord(bytes, n, charset, out);
    else
        encodeQWord(bytes, n, charset, out);
}

bool ContentCoding::isBWordCharset(const char* charset)
{
    if (!charset) return false;
    size_t len = std::strlen(charset);
    for (const char* name : kBWordCharsets)
        if (equalsIgnoreCase(charset, len, name)) return true;
    return false;
}

namespace {

// The bytes of one word's encoded text; null when it gives none.
unsigned char* decodeWordText(const ContentCoding& cc, char letter, const char* text, size_t len, uint32_t& count)
{
    count = 0;
    if (len == 0 || len > static_cast<size_t>(StringBuffer::kMaxLength)) return nullptr;
    unsigned char* bytes = (letter == 'B' || letter == 'b') ? cc.decodeBase64(text, static_cast<uint32_t>(len), count)
                                                            : cc.decodeQ(text, static_cast<int32_t>(len), count);
    if (bytes && count == 0) {
        std::free(bytes);
        bytes = nullptr;
    }
    return bytes;
}

}  // namespace

void ContentCoding::decodeEncodedWords(StringBuffer& buffer) const
{
    const char* s = buffer.getString();
    const size_t n = static_cast<size_t>(buffer.getSize());
    if (!findPair(s, n, '=', '?')) return;
    StringBuffer result(static_cast<int32_t>(n + 1));
    EncodingConvert ec;
    DataBuffer converted;
    // Pieces are appended with their failure recorded in result, which is
    // checked once at the end.
    scanEncodedWords(
        s, n, [&](const char* p, size_t len) { (void)appendBytes(result, p, len); },
        [&](const char* cs, size_t csLen, char letter, const char* text, size_t textLen) {
            uint32_t count = 0;
            unsigned char* bytes = decodeWordText(*this, letter, text, textLen, count);
            if (!bytes) return;
            // "8bit" is this system's own label for raw UTF-8 text.
            if (equalsIgnoreCase(cs, csLen, "utf-8") || equalsIgnoreCase(cs, csLen, "8bit")) {
                (void)appendBytes(result, bytes, count);
            } else {
                // A language suffix ("iso-8859-1*fr") is not part of the name.
                const char* star = static_cast<const char*>(std::memchr(cs, '*', csLen));
                StringBuffer name(cs, static_cast<int32_t>(star ? static_cast<size_t>(star - cs) : csLen), 0);
                int cp = charsetToCodePage(name.getString());
                if (cp == 0) {
                    (void)appendBytes(result, bytes, count);
                } else {
                    converted.clear();
                    (void)ec.convert(cp, kUtf8, bytes, count, converted);  // lossy text is kept as converted
                    if (converted.hasFailed())
                        result.markFailed(converted.failure());
                    else
                        (void)appendBytes(result, converted.getData(), converted.getSize());
                }
            }
            std::free(bytes);
        });
    // On failure the text stays as it was, and the buffer tells why.
    if (result.hasFailed()) {
        buffer.markFailed(result.failure());
        return;
    }
    // Room first, so the copy cannot fail once the old text is gone.
    const int32_t newSize = result.getSize();
    if (newSize > buffer.getSize() && !buffer.reserveAppend(newSize - buffer.getSize())) return;
    BufferFailure before = buffer.failure();  // clear() forgets it
    buffer.clear();
    (void)appendBytes(buffer, result.getString(), static_cast<size_t>(newSize));  // fits: room was made above
    buffer.markFailed(before);
}

void ContentCoding::decodeEncodedWordsRaw(const StringBuffer& in, DataBuffer& out) const
{
    scanEncodedWords(
        in.getString(), static_cast<size_t>(in.getSize()),
        // A failed append is recorded in out, which the caller checks; nothing
        // more is appended after it.
        [&](const char* p, size_t len) {
            if (!out.hasFailed()) (void)out.append(p, static_cast<uint32_t>(len));
        },
        [&](const char*, size_t, char letter, const char* text, size_t textLen) {
            if (out.hasFailed()) return;
            uint32_t count = 0;
            unsigned char* bytes = decodeWordText(*this, letter, text, textLen, count);
            if (bytes) (void)out.append(bytes, count);
            std::free(bytes);
        });
}

}  // namespace hanamail
