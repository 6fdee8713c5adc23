#include "charset/CodePageTable.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "charset/ScratchOutput.h"
#include "charset/Utf8Scan.h"
#include "charset/tables/CodePageData.h"
#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

// Output is staged in a stack chunk and appended in one piece: the inner loops
// then write through a plain pointer without any bounds checks.
constexpr uint32_t kChunkUnits = 4096;

const CodePageData* findData(int cp)
{
    int lo = 0;
    int hi = kCodePageDataCount - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = kCodePageData[mid].codePage;
        if (c == cp) {
            return &kCodePageData[mid];
        }
        if (c < cp) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return nullptr;
}

// Makes room for up to maxMore bytes so the chunked appends do not reallocate
// per chunk; grows by half at least, so many small conversions into one buffer
// stay linear. Never past the size limit: the appends find out whether the
// text fits. False when the buffer cannot grow.
bool reserveFor(DataBuffer& out, uint64_t maxMore)
{
    uint64_t size = out.getSize();
    uint64_t need = size + maxMore;
    uint64_t capacity = out.getCapacity();
    if (need <= capacity) {
        return true;
    }
    uint64_t grown = capacity + capacity / 2;
    if (grown > need) {
        need = grown;
    }
    const uint64_t limit = BufferLimit::maxBytes();
    if (need > limit) {
        need = limit;
    }
    if (need > capacity) {
        return out.ensureCapacity(static_cast<uint32_t>(need));
    }
    return true;
}

class BlobReader {
public:
    BlobReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}

    bool has(size_t k) const { return m_ok && m_n - m_pos >= k; }
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_ok && m_pos == m_n; }
    const uint8_t* take(size_t k)
    {
        if (!has(k)) {
            m_ok = false;
            return nullptr;
        }
        const uint8_t* p = m_p + m_pos;
        m_pos += k;
        return p;
    }
    uint32_t u8()
    {
        const uint8_t* p = take(1);
        return p ? p[0] : 0;
    }
    uint32_t u16()
    {
        const uint8_t* p = take(2);
        return p ? uint32_t(p[0]) | uint32_t(p[1]) << 8 : 0;
    }
    uint32_t u32()
    {
        const uint8_t* p = take(4);
        return p ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24 : 0;
    }

private:
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Allocation failure is a null result here, never an exception.
template <typename T>
std::unique_ptr<T[]> zeroed(size_t n)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

}  // namespace

// Unpacks one code page's data (layout described in tools/codepages/gen_tables.py).
struct CodePageTableBuilder {
    static const CodePageTable* build(const CodePageData& data)
    {
        std::unique_ptr<uint8_t[]> blob = zeroed<uint8_t>(data.unpackedSize);
        std::unique_ptr<uint8_t[]> oneWay = zeroed<uint8_t>(65536);
        std::unique_ptr<uint16_t[]> codes = zeroed<uint16_t>(65536);
        std::unique_ptr<uint32_t[]> encode = zeroed<uint32_t>(65536);
        std::unique_ptr<CodePageTable> table(new (std::nothrow) CodePageTable);
        if (!blob || !oneWay || !codes || !encode || !table) {
            return nullptr;
        }
        uLongf unpacked = data.unpackedSize;
        if (uncompress(blob.get(), &unpacked, data.packed, data.packedSize) != Z_OK || unpacked != data.unpackedSize) {
            return nullptr;
        }
        BlobReader in(blob.get(), data.unpackedSize);
        if (in.u8() != kCodePageDataFormat) {
            return nullptr;
        }
        uint32_t flags = in.u8();
        uint32_t leadCount = in.u8();
        in.u8();
        const uint8_t* leads = in.take(leadCount);
        if (!in.ok() || ((flags & kCodePageFlagMultiByte) != 0) != data.multiByte ||
            (leadCount != 0) != data.multiByte) {
            return nullptr;
        }

        table->m_codePage = data.codePage;
        table->m_multiByte = data.multiByte;
        table->m_ascii = (flags & kCodePageFlagAscii) != 0;
        for (uint32_t k = 0; k < leadCount; ++k) {
            if (leads[k] == 0 || table->m_row[leads[k]] != 0) {
                return nullptr;
            }
            table->m_row[leads[k]] = static_cast<uint8_t>(k + 1);
        }

        const uint32_t rows = leadCount + 1;
        const uint8_t* present = in.take(size_t(rows) * 32);
        if (!present) {
            return nullptr;
        }
        std::unique_ptr<uint16_t[]> decode = zeroed<uint16_t>(size_t(rows) * 256);
        if (!decode) {
            return nullptr;
        }
        uint16_t unit = 0;
        for (uint32_t i = 0; i < rows * 256; ++i) {
            if (present[i >> 3] & (1u << (i & 7))) {
                unit = static_cast<uint16_t>(unit + in.u16());
                decode[i] = unit;
            }
        }

        uint32_t oneWayCount = in.u32();
        if (!in.has(size_t(oneWayCount) * 2)) {
            return nullptr;
        }
        uint32_t code = 0;
        for (uint32_t k = 0; k < oneWayCount; ++k) {
            code += in.u16();
            if (code > 0xFFFF) {
                return nullptr;
            }
            oneWay[code] = 1;
        }

        // Every decoded pair that is not one-way is also an encoding pair.
        for (uint32_t r = 0; r < rows; ++r) {
            uint32_t base = r == 0 ? 0 : uint32_t(leads[r - 1]) << 8;
            for (uint32_t t = 0; t < 256; ++t) {
                uint16_t u = decode[r * 256 + t];
                if (u != 0 && !oneWay[base | t]) {
                    codes[u] = static_cast<uint16_t>(base | t);
                }
            }
        }
        uint32_t extraCount = in.u32();
        if (!in.has(size_t(extraCount) * 4)) {
            return nullptr;
        }
        uint32_t u = 0;
        for (uint32_t k = 0; k < extraCount; ++k) {
            u += in.u16();
            uint32_t bytes = in.u16();
            if (u > 0xFFFF) {
                return nullptr;
            }
            codes[u] = static_cast<uint16_t>(bytes);
        }
        encode[0] = 1u << 16;  // U+0000 is byte 0
        for (uint32_t v = 1; v < 65536; ++v) {
            uint32_t c = codes[v];
            if (c > 0xFF) {
                encode[v] = (c >> 8 | (c & 0xFF) << 8) | 2u << 16;
            } else if (c != 0) {
                encode[v] = c | 1u << 16;
            }
        }
        if (!in.atEnd()) {
            return nullptr;
        }
        // Whether ASCII passes through unchanged, as the fast paths copy it.
        bool asciiIn = true;
        bool asciiOut = true;
        for (uint32_t b = 0; b < 0x80; ++b) {
            asciiIn &= table->m_row[b] == 0 && decode[b] == b;
            asciiOut &= encode[b] == (b | 1u << 16);
        }
        table->m_asciiIn = asciiIn || (table->m_multiByte && table->m_ascii);
        table->m_asciiOut = asciiOut;
        table->m_decode = decode.release();
        table->m_encode = encode.release();
        return table.release();
    }
};

namespace {

// One slot per code page: a function-local static is built once even when
// threads race on first use. std::call_once is not used because MinGW's win32
// thread model only has a single-threaded version of it.
template <int I>
const CodePageTable* tableSlot()
{
    static const CodePageTable* const table = CodePageTableBuilder::build(kCodePageData[I]);
    return table;
}

template <int... I>
constexpr std::array<const CodePageTable* (*)(), sizeof...(I)> makeSlots(std::integer_sequence<int, I...>)
{
    return {{&tableSlot<I>...}};
}

constexpr auto kSlots = makeSlots(std::make_integer_sequence<int, kCodePageDataCount>());

}  // namespace

const CodePageTable* CodePageTable::forCodePage(int cp)
{
    const CodePageData* data = findData(cp);
    if (!data) {
        return nullptr;
    }
    return kSlots[data - kCodePageData]();
}

bool CodePageTable::isTableCodePage(int cp)
{
    return findData(cp) != nullptr;
}

bool CodePageTable::decodeToUtf16Plain(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    if (!bytes || n == 0) {
        return true;
    }
    const uint16_t* dec = m_decode;
    bool ok = true;
    for (uint32_t i = 0; i < n;) {
        const unsigned char b = bytes[i];
        unsigned char unit[2];
        uint16_t u;
        uint32_t used = 1;
        if (!m_multiByte) {
            u = dec[b];
        } else if (b < 0x80 && m_ascii) {
            u = b;
        } else {
            u = 0;
            const uint32_t row = m_row[b];
            if (row != 0 && i + 1 < n) {
                u = dec[row * 256 + bytes[i + 1]];
                used = u != 0 ? 2 : 1;
            }
            if (u == 0) {
                u = dec[b];
            }
        }
        if (u != 0 || (b == 0 && used == 1)) {
            unit[0] = static_cast<unsigned char>(u);
            unit[1] = static_cast<unsigned char>(u >> 8);
            if (!out.append(unit, 2)) {
                return false;
            }
        } else {
            ok = false;
        }
        i += used;
    }
    return ok;
}

namespace {

#ifdef HM_UTF8SCAN_SSE2
inline bool ascii16(const unsigned char* p)
{
    return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0;
}
#endif

// UTF-16LE output.
struct Utf16Sink {
    unsigned char* d;
    void unit(uint32_t u)
    {
        d[0] = static_cast<unsigned char>(u);
        d[1] = static_cast<unsigned char>(u >> 8);
        d += 2;
    }
    void ascii16(const unsigned char* p)
    {
        utf8scan::widenAscii16(p, d);
        d += 32;
    }
};

// Output in a table code page: every unit is one entry of its encoding table,
// so mixed text costs no branches; two bytes are always stored.
struct EncodeSink {
    const uint32_t* enc;
    unsigned char* d;
    bool asciiOut;
    uint32_t missing = 0;

    void unit(uint32_t u)
    {
        const uint32_t e = enc[u];
        d[0] = static_cast<unsigned char>(e);
        d[1] = static_cast<unsigned char>(e >> 8);
        const uint32_t count = e >> 16;
        d += count;
        missing |= count == 0;
    }
    void ascii16(const unsigned char* p)
    {
        if (asciiOut) {
            std::memcpy(d, p, 16);
            d += 16;
            return;
        }
        for (int k = 0; k < 16; ++k) {
            unit(p[k]);
        }
    }
    void run(const unsigned char* p, uint32_t count, uint32_t last)
    {
        if (asciiOut) {
            // Whole groups of 16, at least two: the room allows the overshoot.
            std::memcpy(d, p, 32);
            for (uint32_t k = 32; k < count; k += 16) {
                std::memcpy(d + k, p + k, 16);
            }
            d += count - 1;
        } else {
            for (uint32_t k = 0; k + 1 < count; ++k) {
                unit(p[k]);
            }
        }
        unit(last);
    }
};

// Input is taken in pieces of this many bytes: room is asked for per piece.
constexpr uint32_t kPiece = 64 * 1024;

inline uint32_t pieceEnd(uint32_t i, uint32_t n)
{
    return n - i > kPiece ? i + kPiece : n;
}

// Runs a step over the input piece by piece, each piece written straight into
// the buffer's spare room: perByte bytes of room per input byte (and its
// slack), plus extra. step(i, limit, d) returns where it stopped, d advanced.
template <typename Step>
bool runPieces(DataBuffer& out, uint32_t n, uint64_t perByte, uint64_t extra, Step step)
{
    for (uint32_t i = 0; i < n;) {
        const uint32_t limit = pieceEnd(i, n);
        unsigned char* d = appendRoom(out, perByte * (uint64_t(limit - i) + CodePageTable::kStepSlack) + extra);
        if (!d) {
            return false;
        }
        i = step(i, limit, d);
        if (!appendCommit(out, d)) {
            return false;
        }
    }
    return true;
}

}  // namespace

template <typename Sink>
uint32_t CodePageTable::decodeScan(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, Sink& out,
                                   bool& ok) const
{
    Sink sink = out;  // a local copy keeps the write position in a register
    const uint16_t* const dec = m_decode;
    bool good = true;
    if (!m_multiByte) {
        const bool asciiIn = m_asciiIn;
        while (i < limit) {
#ifdef HM_UTF8SCAN_SSE2
            if (asciiIn && n - i >= 16 && ascii16(s + i)) {
                sink.ascii16(s + i);
                i += 16;
                continue;
            }
#endif
            const uint32_t end = limit - i > 16 ? i + 16 : limit;
            for (; i < end; ++i) {
                const uint32_t b = s[i];
                const uint32_t u = dec[b];
                if (u != 0 || b == 0) {
                    sink.unit(u);
                } else {
                    good = false;
                }
            }
        }
    } else {
        const bool ascii = m_ascii;
        while (i < limit) {
            uint32_t b = s[i];
            if (b < 0x80 && ascii) {
                // A run of ASCII stays in here; a long one goes 16 bytes at a time.
                uint32_t run = 0;
                do {
#ifdef HM_UTF8SCAN_SSE2
                    if (run >= 4 && n - i >= 16 && ascii16(s + i)) {
                        sink.ascii16(s + i);
                        i += 16;
                        continue;
                    }
#endif
                    sink.unit(b);
                    ++i;
                    ++run;
                } while (i < limit && (b = s[i]) < 0x80);
                continue;
            }
            const uint32_t row = m_row[b];
            if (row != 0 && i + 1 < n) {
                const uint32_t u = dec[row * 256 + s[i + 1]];
                if (u != 0) {
                    sink.unit(u);
                    i += 2;
                    continue;
                }
            }
            const uint32_t u = dec[b];
            if (u != 0 || b == 0) {
                sink.unit(u);
            } else {
                good = false;
            }
            ++i;
        }
    }
    out = sink;
    if (!good) {
        ok = false;
    }
    return i;
}

uint32_t CodePageTable::encodeFromUtf8Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n,
                                           unsigned char*& d, bool& mapped) const
{
    EncodeSink sink{m_encode, d, m_asciiOut};
    i = utf8scan::scan(s, i, limit, n, sink);
    d = sink.d;
    if (sink.missing != 0) {
        mapped = false;
    }
    return i;
}

uint32_t CodePageTable::decodeToUtf16Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n,
                                          unsigned char*& d, bool& decodedAll) const
{
    Utf16Sink sink{d};
    i = decodeScan(s, i, limit, n, sink, decodedAll);
    d = sink.d;
    return i;
}

uint32_t CodePageTable::decodeToUtf8Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n,
                                         utf8out::Writer& w) const
{
    bool ignored = true;
    return decodeScan(s, i, limit, n, w, ignored);
}

uint32_t CodePageTable::transcodeStep(const CodePageTable& target, const unsigned char* s, uint32_t i, uint32_t limit,
                                      uint32_t n, unsigned char*& d, bool& mapped) const
{
    EncodeSink sink{target.m_encode, d, target.m_asciiOut};
    bool ignored = true;
    i = decodeScan(s, i, limit, n, sink, ignored);
    d = sink.d;
    if (sink.missing != 0) {
        mapped = false;
    }
    return i;
}

bool CodePageTable::decodeToUtf16(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    if (!bytes || n == 0) {
        return true;
    }
    if (!reserveFor(out, uint64_t(n) * 2 + 2 * kStepSlack)) {
        return false;
    }
    bool ok = true;
    return runPieces(out, n, 2, 0,
                     [&](uint32_t i, uint32_t limit, unsigned char*& d) {
                         return decodeToUtf16Step(bytes, i, limit, n, d, ok);
                     }) &&
           ok;
}

bool CodePageTable::encodeFromUtf8(const unsigned char* utf8, uint32_t n, DataBuffer& out) const
{
    if (!utf8 || n == 0) {
        return true;
    }
    if (!reserveFor(out, (m_multiByte ? uint64_t(n) * 2 : n) + 2 * kStepSlack)) {
        return false;
    }
    bool mapped = true;
    return runPieces(out, n, 2, 0,
                     [&](uint32_t i, uint32_t limit, unsigned char*& d) {
                         return encodeFromUtf8Step(utf8, i, limit, n, d, mapped);
                     }) &&
           mapped;
}

bool CodePageTable::decodeToUtf8(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    if (!bytes || n == 0) {
        return true;
    }
    // Two-byte characters take at most three bytes; single ones, at most three each.
    if (!reserveFor(out, (m_multiByte ? uint64_t(n) * 2 : uint64_t(n) * 3) + 3 * kStepSlack)) {
        return false;
    }
    utf8out::Writer w{utf8out::wordTable(), nullptr};
    return runPieces(out, n, 3, 4, [&](uint32_t i, uint32_t limit, unsigned char*& d) {
        w.d = d;
        i = decodeToUtf8Step(bytes, i, limit, n, w);
        if (i >= n) {
            w.finish();
        }
        d = w.d;
        return i;
    });
}

bool CodePageTable::transcode(const CodePageTable& target, const unsigned char* bytes, uint32_t n,
                              DataBuffer& out) const
{
    if (!bytes || n == 0) {
        return true;
    }
    if (!reserveFor(out, (target.m_multiByte ? uint64_t(n) * 2 : n) + 2 * kStepSlack)) {
        return false;
    }
    bool mapped = true;
    return runPieces(out, n, 2, 0,
                     [&](uint32_t i, uint32_t limit, unsigned char*& d) {
                         return transcodeStep(target, bytes, i, limit, n, d, mapped);
                     }) &&
           mapped;
}

bool CodePageTable::encodeFromUtf16(const unsigned char* utf16le, uint32_t n, DataBuffer& out) const
{
    if (!utf16le || n == 0) {
        return true;
    }
    if (n == 1) {
        return false;
    }
    const uint32_t units = n / 2;
    const uint32_t* enc = m_encode;
    uint32_t missing = 0;
    if (!reserveFor(out, m_multiByte ? uint64_t(units) * 2 : units)) {
        return false;
    }
    unsigned char chunk[2 * kChunkUnits];
    const unsigned char* p = utf16le;
    const unsigned char* const stop = utf16le + 2 * size_t(units);
    while (p < stop) {
        const unsigned char* end = stop - p > 2 * kChunkUnits ? p + 2 * kChunkUnits : stop;
        unsigned char* w = chunk;
        // Branch-free: every unit (ASCII too) is one table entry, so mixed text
        // costs no mispredictions. Two bytes are always stored; w advances by the count.
        for (; p < end; p += 2) {
            uint32_t e = enc[uint32_t(p[0]) | uint32_t(p[1]) << 8];
            w[0] = static_cast<unsigned char>(e);
            w[1] = static_cast<unsigned char>(e >> 8);
            uint32_t count = e >> 16;
            w += count;
            missing |= count == 0;
        }
        if (w != chunk && !out.append(chunk, static_cast<uint32_t>(w - chunk))) {
            return false;
        }
    }
    return missing == 0;
}

}  // namespace hanamail
