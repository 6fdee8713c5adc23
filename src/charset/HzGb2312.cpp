#include "charset/HzGb2312.h"

#include <memory>
#include <new>

#include "charset/CodePageTable.h"
#include "charset/CodePages.h"
#include "charset/ScratchOutput.h"
#include "charset/tables/GbTables.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

constexpr uint32_t kPiece = 64 * 1024;

// GB 2312 both ways: 94 rows of 94 cells (bytes 21-7E once the top bits are
// cleared), read through the 936 table.
struct CellMaps {
    uint16_t decode[94 * 94];  // unit, 0 = not GB 2312
    uint16_t encode[65536];    // row << 8 | cell (from 0x21 each), 0 = none
};

const CellMaps* buildCellMaps()
{
    const CodePageTable* gbk = CodePageTable::forCodePage(kGbk);
    std::unique_ptr<CellMaps> maps(new (std::nothrow) CellMaps());
    if (gbk == nullptr || !maps) return nullptr;
    for (uint32_t row = 0; row < 94; ++row) {
        for (uint32_t cell = 0; cell < 94; ++cell) {
            if ((kGb2312Cells[row * 12 + cell / 8] & (1u << (cell % 8))) == 0) continue;
            const uint16_t u = gbk->decodePair(0xA1 + row, 0xA1 + cell);
            maps->decode[row * 94 + cell] = u;
            if (u != 0) maps->encode[u] = static_cast<uint16_t>((0x21 + row) << 8 | (0x21 + cell));
        }
    }
    for (const GbExtraCode& e : kGbExtraCodes) {
        if (maps->encode[e.unit] == 0) maps->encode[e.unit] = static_cast<uint16_t>(e.code & 0x7F7F);
    }
    return maps.release();
}

const CellMaps* cellMaps()
{
    static const CellMaps* const maps = buildCellMaps();
    return maps;
}

inline bool isGraphic(unsigned char b)
{
    return b >= 0x21 && b <= 0x7E;
}

inline void putUnit(unsigned char*& d, uint32_t u)
{
    d[0] = static_cast<unsigned char>(u);
    d[1] = static_cast<unsigned char>(u >> 8);
    d += 2;
}

inline void putShift(unsigned char*& d, char c)
{
    d[0] = '~';
    d[1] = static_cast<unsigned char>(c);
    d += 2;
}

}  // namespace

bool HzGb2312::decode(const unsigned char* bytes, uint32_t n, DataBuffer& out)
{
    if (bytes == nullptr || n == 0) return true;
    const CellMaps* maps = cellMaps();
    if (maps == nullptr) return false;
    bool ok = true;
    bool gb = false;
    const bool room = appendPieces(out, n, kPiece, 2, 4, [&](uint32_t i, uint32_t limit, unsigned char*& d) {
        while (i < limit) {
            const unsigned char b = bytes[i];
            if (b == '~') {
                const unsigned char c = i + 1 < n ? bytes[i + 1] : 0;
                if (c == '~' || c == '{' || c == '}' || c == '\n') {
                    if (c == '~') putUnit(d, '~');
                    if (c == '{' || c == '}') gb = c == '{';
                    i += 2;
                    continue;
                }
            } else if (b < 0x80 && !gb) {
                putUnit(d, b);
                ++i;
                continue;
            } else if (b < 0x21) {
                // Text that ran on past a line end in GB mode: the line end ends it.
                if (b == '\r' || b == '\n') gb = false;
                putUnit(d, b);
                ++i;
                continue;
            } else if (isGraphic(b) && i + 1 < n && isGraphic(bytes[i + 1])) {
                const uint32_t u = maps->decode[(b - 0x21) * 94 + bytes[i + 1] - 0x21];
                if (u != 0) {
                    putUnit(d, u);
                    i += 2;
                    continue;
                }
            }
            ok = false;  // dropped alone; what follows is read afresh
            ++i;
        }
        return i;
    });
    return room && ok;
}

bool HzGb2312::encode(const unsigned char* utf16le, uint32_t n, DataBuffer& out)
{
    if (utf16le == nullptr || n == 0) return true;
    const CellMaps* maps = cellMaps();
    if (maps == nullptr) return false;
    const uint32_t even = n & ~1u;
    bool ok = even == n;
    bool gb = false;
    // A unit gives at most four bytes ("~}~~" or "~{" and a pair), and the end two more.
    const bool room = appendPieces(out, even, kPiece, 2, 4, [&](uint32_t i, uint32_t limit, unsigned char*& d) {
        for (; i < limit; i += 2) {
            const uint32_t u = utf16le[i] | uint32_t(utf16le[i + 1]) << 8;
            if (u < 0x80) {
                if (gb) putShift(d, '}');
                gb = false;
                if (u == '~') *d++ = '~';
                *d++ = static_cast<unsigned char>(u);
                continue;
            }
            const uint32_t code = maps->encode[u];
            if (code == 0) {
                ok = false;
                continue;
            }
            if (!gb) putShift(d, '{');
            gb = true;
            d[0] = static_cast<unsigned char>(code >> 8);
            d[1] = static_cast<unsigned char>(code);
            d += 2;
        }
        if (i >= even && gb) putShift(d, '}');
        return i;
    });
    return room && ok;
}

}  // namespace hanamail
