#include "charset/Gb18030.h"

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
constexpr uint32_t kFirstLead = 0x81;
constexpr uint32_t kLeads = 0xFF - kFirstLead;  // 81-FE
constexpr uint32_t kFirstTrail = 0x40;
constexpr uint32_t kTrails = 0xFF - kFirstTrail;  // 40-FE (7F is never a trail)

// The two-byte codes both ways, built once from the 936 table and the
// overrides. Every BMP character without a two-byte code has a four-byte one.
struct PairMaps {
    uint16_t decode[kLeads * kTrails];  // unit, 0 = none
    uint16_t encode[65536];             // lead << 8 | trail, 0 = none
};

const PairMaps* buildPairMaps()
{
    const CodePageTable* gbk = CodePageTable::forCodePage(kGbk);
    std::unique_ptr<PairMaps> maps(new (std::nothrow) PairMaps());
    if (gbk == nullptr || !maps) return nullptr;
    for (uint32_t lead = kFirstLead; lead < 0xFF; ++lead) {
        for (uint32_t trail = kFirstTrail; trail < 0xFF; ++trail) {
            if (trail != 0x7F)
                maps->decode[(lead - kFirstLead) * kTrails + trail - kFirstTrail] = gbk->decodePair(lead, trail);
        }
    }
    for (const GbPairOverride& o : kGbPairOverrides) {
        maps->decode[((o.code >> 8) - kFirstLead) * kTrails + (o.code & 0xFF) - kFirstTrail] = o.unit;
    }
    for (uint32_t k = 0; k < kLeads * kTrails; ++k) {
        const uint16_t u = maps->decode[k];
        if (u != 0)
            maps->encode[u] = static_cast<uint16_t>((k / kTrails + kFirstLead) << 8 | (k % kTrails + kFirstTrail));
    }
    return maps.release();
}

const PairMaps* pairMaps()
{
    static const PairMaps* const maps = buildPairMaps();
    return maps;
}

// The run of four-byte codes that holds the unit u, or the number n.
const GbFourByteRun& runOfUnit(uint32_t u)
{
    int lo = 0;
    int hi = kGbFourByteRunCount - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (kGbFourByteRuns[mid].unit <= u)
            lo = mid;
        else
            hi = mid - 1;
    }
    return kGbFourByteRuns[lo];
}

const GbFourByteRun& runOfNumber(uint32_t n)
{
    int lo = 0;
    int hi = kGbFourByteRunCount - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (kGbFourByteRuns[mid].number <= n)
            lo = mid;
        else
            hi = mid - 1;
    }
    return kGbFourByteRuns[lo];
}

inline void putUnit(unsigned char*& d, uint32_t u)
{
    d[0] = static_cast<unsigned char>(u);
    d[1] = static_cast<unsigned char>(u >> 8);
    d += 2;
}

inline bool isDigit(unsigned char b)
{
    return b >= 0x30 && b <= 0x39;
}

}  // namespace

void Gb18030::fourBytes(uint32_t number, unsigned char* d)
{
    d[3] = static_cast<unsigned char>(0x30 + number % 10);
    number /= 10;
    d[2] = static_cast<unsigned char>(kFirstLead + number % 126);
    number /= 126;
    d[1] = static_cast<unsigned char>(0x30 + number % 10);
    d[0] = static_cast<unsigned char>(kFirstLead + number / 10);
}

bool Gb18030::fourByteNumber(const unsigned char* p, uint32_t& number)
{
    if (p[0] < kFirstLead || p[0] == 0xFF || !isDigit(p[1]) || p[2] < kFirstLead || p[2] == 0xFF || !isDigit(p[3]))
        return false;
    number = ((uint32_t(p[0] - kFirstLead) * 10 + (p[1] - 0x30)) * 126 + (p[2] - kFirstLead)) * 10 + (p[3] - 0x30);
    return true;
}

bool Gb18030::decode(const unsigned char* bytes, uint32_t n, DataBuffer& out)
{
    if (bytes == nullptr || n == 0) return true;
    const PairMaps* maps = pairMaps();
    if (maps == nullptr) return false;
    bool ok = true;
    // One byte gives at most one unit; four give at most two.
    const bool room = appendPieces(out, n, kPiece, 2, 8, [&](uint32_t i, uint32_t limit, unsigned char*& d) {
        while (i < limit) {
            const unsigned char b = bytes[i];
            if (b < 0x80) {
                putUnit(d, b);
                ++i;
                continue;
            }
            if (b != 0x80 && b != 0xFF && i + 1 < n) {
                const unsigned char t = bytes[i + 1];
                if (t >= kFirstTrail && t != 0x7F && t != 0xFF) {
                    const uint32_t u = maps->decode[(b - kFirstLead) * kTrails + t - kFirstTrail];
                    if (u != 0) {
                        putUnit(d, u);
                        i += 2;
                        continue;
                    }
                }
                uint32_t number = 0;
                if (isDigit(t) && n - i >= 4 && fourByteNumber(bytes + i, number)) {
                    if (number < kGbBmpFourByteNumbers) {
                        const GbFourByteRun& run = runOfNumber(number);
                        putUnit(d, run.unit + (number - run.number));
                        i += 4;
                        continue;
                    }
                    const uint32_t plane = number - kGbSupplementaryFirstNumber;
                    if (number >= kGbSupplementaryFirstNumber && plane < 0x100000) {
                        putUnit(d, 0xD800 + (plane >> 10));
                        putUnit(d, 0xDC00 + (plane & 0x3FF));
                        i += 4;
                        continue;
                    }
                }
            }
            ok = false;  // the lead alone is lost; what follows is read afresh
            ++i;
        }
        return i;
    });
    return room && ok;
}

bool Gb18030::encode(const unsigned char* utf16le, uint32_t n, DataBuffer& out)
{
    if (utf16le == nullptr || n == 0) return true;
    const PairMaps* maps = pairMaps();
    if (maps == nullptr) return false;
    const uint32_t even = n & ~1u;
    bool ok = even == n;
    // A unit gives at most four bytes, as does a surrogate pair.
    const bool room = appendPieces(out, even, kPiece, 2, 8, [&](uint32_t i, uint32_t limit, unsigned char*& d) {
        while (i < limit) {
            const uint32_t u = utf16le[i] | uint32_t(utf16le[i + 1]) << 8;
            i += 2;
            if (u < 0x80) {
                *d++ = static_cast<unsigned char>(u);
                continue;
            }
            const uint32_t code = maps->encode[u];
            if (code != 0) {
                d[0] = static_cast<unsigned char>(code >> 8);
                d[1] = static_cast<unsigned char>(code);
                d += 2;
                continue;
            }
            if (u < 0xD800 || u > 0xDFFF) {
                const GbFourByteRun& run = runOfUnit(u);
                fourBytes(run.number + (u - run.unit), d);
                d += 4;
                continue;
            }
            const uint32_t v = i + 1 < even ? (utf16le[i] | uint32_t(utf16le[i + 1]) << 8) : 0;
            if (u <= 0xDBFF && v >= 0xDC00 && v <= 0xDFFF) {
                fourBytes(kGbSupplementaryFirstNumber + ((u - 0xD800) << 10 | (v - 0xDC00)), d);
                d += 4;
                i += 2;
                continue;
            }
            ok = false;  // a surrogate alone has no code
        }
        return i;
    });
    return room && ok;
}

}  // namespace hanamail
