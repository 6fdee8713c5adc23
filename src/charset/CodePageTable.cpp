#include "charset/CodePageTable.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "charset/tables/CodePageData.h"
#include "foundation/DataBuffer.h"

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
// stay linear.
void reserveFor(DataBuffer& out, uint64_t maxMore)
{
    uint64_t size = out.getSize();
    uint64_t need = size + maxMore;
    uint64_t capacity = out.getCapacity();
    if (need <= capacity) {
        return;
    }
    uint64_t grown = capacity + capacity / 2;
    if (grown > need) {
        need = grown;
    }
    if (need > DataBuffer::kMaxSize) {
        need = DataBuffer::kMaxSize;
    }
    if (need > capacity) {
        out.ensureCapacity(static_cast<uint32_t>(need));  // a failure shows in append
    }
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
        if (uncompress(blob.get(), &unpacked, data.packed, data.packedSize) != Z_OK ||
            unpacked != data.unpackedSize) {
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

bool CodePageTable::decodeToUtf16(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    if (!bytes || n == 0) {
        return true;
    }
    reserveFor(out, uint64_t(n) * 2);
    return m_multiByte ? decodeMulti(bytes, n, out) : decodeSingle(bytes, n, out);
}

bool CodePageTable::decodeSingle(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    const uint16_t* dec = m_decode;
    bool ok = true;
    unsigned char chunk[2 * kChunkUnits];
    uint32_t i = 0;
    while (i < n) {
        uint32_t end = n - i > kChunkUnits ? i + kChunkUnits : n;
        unsigned char* w = chunk;
        for (; i < end; ++i) {
            unsigned char b = bytes[i];
            uint16_t u = dec[b];
            w[0] = static_cast<unsigned char>(u);
            w[1] = static_cast<unsigned char>(u >> 8);
            bool mapped = u != 0 || b == 0;
            ok &= mapped;
            w += mapped ? 2 : 0;
        }
        if (w != chunk && !out.append(chunk, static_cast<uint32_t>(w - chunk))) {
            return false;
        }
    }
    return ok;
}

bool CodePageTable::decodeMulti(const unsigned char* bytes, uint32_t n, DataBuffer& out) const
{
    const uint16_t* dec = m_decode;
    const bool ascii = m_ascii;
    bool ok = true;
    // A pair may start at the last position of a chunk, so one unit more.
    unsigned char chunk[2 * (kChunkUnits + 1)];
    uint32_t i = 0;
    while (i < n) {
        uint32_t end = n - i > kChunkUnits ? i + kChunkUnits : n;
        unsigned char* w = chunk;
        while (i < end) {
            unsigned char b = bytes[i];
            if (b < 0x80 && ascii) {
                w[0] = b;
                w[1] = 0;
                w += 2;
                ++i;
                continue;
            }
            uint32_t row = m_row[b];
            if (row != 0 && i + 1 < n) {
                uint16_t u = dec[row * 256 + bytes[i + 1]];
                if (u != 0) {
                    w[0] = static_cast<unsigned char>(u);
                    w[1] = static_cast<unsigned char>(u >> 8);
                    w += 2;
                    i += 2;
                    continue;
                }
            }
            uint16_t u = dec[b];
            if (u != 0 || b == 0) {
                w[0] = static_cast<unsigned char>(u);
                w[1] = static_cast<unsigned char>(u >> 8);
                w += 2;
            } else {
                ok = false;
            }
            ++i;
        }
        if (w != chunk && !out.append(chunk, static_cast<uint32_t>(w - chunk))) {
            return false;
        }
    }
    return ok;
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
    reserveFor(out, m_multiByte ? uint64_t(units) * 2 : units);
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
