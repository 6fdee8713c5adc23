// The fast conversion paths (fused steps, texts taken in pieces, block-wise
// UTF-8 reading) against the plain reference form of the engine: same bytes,
// same result, on random and deliberately awkward inputs. Piece and block
// edges are where the fast paths could differ, so inputs are long enough to
// cross them and awkward sequences are planted right at them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ConvertHelpers.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

using namespace convtest;

namespace {

const int kCodePages[] = {65001, 932,   51932, 936,  949,   950,   1252,  28591, 50220, 50221,
                          50222, 50225, 1200,  1201, 65000, 65005, 65006, 52936, 54936};

// Sizes at which the engine cuts its work: UTF-8 blocks, pieces of ISO-2022
// input and pivot text, pieces of table input.
const uint32_t kEdges[] = {64, 96, 128, 8159, 16384, 16386, 32768, 65536, 65538};

class Gen {
public:
    explicit Gen(uint32_t start) : m_rng(start) {}

    uint32_t below(uint32_t k) { return static_cast<uint32_t>(m_rng() % k); }

    uint32_t codePoint()
    {
        switch (below(11)) {
            case 0:
            case 1:
            case 2: return 0x20 + below(0x5F);
            case 3: return below(0x80);
            case 4: return 0x80 + below(0x780);
            case 5: return 0x3040 + below(0x100);
            case 6:
            case 7: return 0x4E00 + below(0x5200);
            case 8: return 0xAC00 + below(0x2BA4);
            case 9: return 0xFF61 + below(0x3F);
            default: return 0x10000 + below(0xF0000);
        }
    }

    // Pieces that read differently depending on what follows them.
    Bytes awkward(int sourceCp)
    {
        static const char* const utf8[] = {"\xC3",         "\xE3\x81",     "\xF0\x9F\x98",     "\xF0\x9F\x98\x80",
                                           "\xED\xA0\xBD", "\xED\xB8\x80", "\xE0\x80\x80",     "\xC0\xAF",
                                           "\x80\x80",     "\xFF",         "\xF4\x90\x80\x80", "\xEF\xBB\xBF"};
        static const char* const jis[] = {"\x1B",   "\x1B$",      "\x1B$B", "\x1B(B", "\x1B(J",  "\x1B$@",
                                          "\x1B(I", "\x1B$B\x30", "\r\n",   "\x82",   "\xB6\xDE"};
        static const char* const kr[] = {"\x1B", "\x1B$)", "\x1B$)C", "\x0E", "\x0F", "\x0E\x30", "\xB0"};
        static const char* const dbcs[] = {"\x82", "\x81", "\xE0", "\x8F", "\xA4", "\xFE",
                                           "\x80", "\xB6", "\xDE", "\xA0", "\x00", "\xFD"};
        switch (sourceCp) {
            case 65001: return utf8[below(12)];
            case 50220:
            case 50221:
            case 50222: return jis[below(11)];
            case 50225: return kr[below(7)];
            case 1200:
            case 1201: {
                // Lone and paired surrogates, a byte-order mark, an odd byte.
                static const uint32_t units[] = {0xD83D, 0xDE00, 0xFEFF, 0xFFFE, 0x0041, 0x3042};
                const uint32_t u = units[below(6)];
                return below(8) == 0 ? Bytes(1, '\x41') : u16({u});
            }
            default: return Bytes(dbcs[below(12)], 1);
        }
    }

    // Ordinary text of the source code page, written independently of the engine.
    Bytes filler(int sourceCp, uint32_t len)
    {
        Bytes b;
        while (b.size() < len) {
            const uint32_t r = below(100);
            switch (sourceCp) {
                case 65001:
                case 65000:
                    if (r < 3)
                        b += "\r\n";
                    else
                        appendUtf8(b, codePoint());
                    break;
                case 50220:
                case 50221:
                case 50222:
                    if (r < 6)
                        b += r < 3 ? "\x1B$B" : "\x1B(B";
                    else if (r < 8)
                        b += "\r\n";
                    else if (r < 70)
                        b += {static_cast<char>(0x21 + below(0x5E)), static_cast<char>(0x21 + below(0x5E))};
                    else
                        b += static_cast<char>(0x20 + below(0x5F));
                    break;
                case 50225:
                    if (r < 5)
                        b += r < 3 ? "\x0E" : "\x0F";
                    else if (r < 70)
                        b += {static_cast<char>(0x21 + below(0x5E)), static_cast<char>(0x21 + below(0x5E))};
                    else
                        b += static_cast<char>(0x20 + below(0x5F));
                    break;
                case 1200:
                case 1201:
                case 65005:
                case 65006: {
                    const uint32_t cp = codePoint();
                    const bool wide = sourceCp >= 65005;
                    const bool big = sourceCp == 1201 || sourceCp == 65006;
                    Bytes unit;
                    if (wide) {
                        for (int k = 0; k < 4; ++k) unit += static_cast<char>((cp >> (8 * k)) & 0xFF);
                    } else {
                        appendUtf16(unit, cp);
                    }
                    if (big) {
                        const size_t w = wide ? 4 : 2;
                        for (size_t k = 0; k < unit.size(); k += w)
                            std::reverse(unit.begin() + k, unit.begin() + k + w);
                    }
                    b += unit;
                    break;
                }
                default:
                    // Table code pages: ASCII, lead/trail pairs, single high bytes.
                    if (r < 30)
                        b += static_cast<char>(0x20 + below(0x5F));
                    else if (r < 33)
                        b += "\r\n";
                    else if (r < 38)
                        b += static_cast<char>(0x80 + below(0x80));
                    else
                        b += {static_cast<char>(0x81 + below(0x7E)), static_cast<char>(0x40 + below(0xBF))};
            }
        }
        b.resize(len);
        return b;
    }

    Bytes randomBytes(uint32_t len)
    {
        Bytes b(len, '\0');
        for (char& c : b) c = static_cast<char>(below(256));
        return b;
    }

private:
    std::mt19937 m_rng;
};

// One conversion by both forms, appending to a buffer that already holds
// bytes (owned or borrowed, as callers have them).
void expectSame(int from, int to, const Bytes& in, int bufferKind, const char* what)
{
    static const char kPrefix[] = "kept";
    DataBuffer fast;
    DataBuffer plain;
    if (bufferKind == 1) {
        EXPECT_TRUE(fast.append(kPrefix, 4));
        EXPECT_TRUE(plain.append(kPrefix, 4));
    } else if (bufferKind == 2) {
        fast.borrow(kPrefix, 4);
        plain.borrow(kPrefix, 4);
    }
    EncodingConvert a;
    EncodingConvert b;
    const bool fastOk = a.convert(from, to, in.data(), static_cast<uint32_t>(in.size()), fast);
    const bool plainOk = b.convertReference(from, to, in.data(), static_cast<uint32_t>(in.size()), plain);
    ASSERT_EQ(fastOk, plainOk) << from << "->" << to << " " << what << ", " << in.size() << " bytes";
    const Bytes a1 = toBytes(fast);
    const Bytes b1 = toBytes(plain);
    if (a1 != b1) {
        // Long texts: show where they part, not all of them.
        size_t at = 0;
        while (at < a1.size() && at < b1.size() && a1[at] == b1[at]) ++at;
        const size_t from0 = at > 8 ? at - 8 : 0;
        FAIL() << from << "->" << to << " " << what << ", " << in.size() << " bytes in, " << a1.size() << " vs "
               << b1.size() << " out, first difference at " << at << ": " << hex(a1.substr(from0, 24)) << " / "
               << hex(b1.substr(from0, 24));
    }
}

TEST(EngineEquivalence, EveryPairOnShortTexts)
{
    Gen gen(20240611u);  // fixed start value: the same inputs every run
    for (int from : kCodePages) {
        for (int to : kCodePages) {
            for (int k = 0; k < 24; ++k) {
                const uint32_t len = gen.below(k < 8 ? 8 : 300);
                Bytes in;
                if (k % 3 == 0) {
                    in = gen.randomBytes(len);
                } else {
                    in = gen.filler(from, len);
                    // Awkward pieces anywhere, and at the very end.
                    for (uint32_t j = gen.below(4); j > 0 && !in.empty(); --j)
                        in.insert(gen.below(static_cast<uint32_t>(in.size())), gen.awkward(from));
                    if (k % 3 == 2) in += gen.awkward(from);
                }
                expectSame(from, to, in, k % 3, "short");
            }
        }
    }
}

TEST(EngineEquivalence, LongTextsWithAwkwardBytesAtTheCuts)
{
    // Sources and targets whose conversions are taken in pieces or blocks.
    const int sources[] = {65001, 932, 51932, 936, 949, 950, 1252, 50220, 50225, 1200};
    const int targets[] = {65001, 932, 51932, 949, 950, 1252, 28591, 1200, 50220, 50225};
    Gen gen(77u);
    for (int from : sources) {
        for (int to : targets) {
            if (from == to) continue;
            const uint32_t len = 70000 + gen.below(3000);
            Bytes in = gen.filler(from, len);
            // Plant awkward pieces just before, at and after each cut, from
            // the start of the text and (for pieces of output) further on.
            for (uint32_t edge : kEdges) {
                for (uint32_t at = edge; at < in.size(); at += edge * (1 + gen.below(3))) {
                    const Bytes piece = gen.awkward(from);
                    const uint32_t shift = gen.below(5);
                    const uint32_t pos = at >= shift ? at - shift : at;
                    in.replace(pos, std::min<size_t>(piece.size(), in.size() - pos), piece);
                }
            }
            expectSame(from, to, in, static_cast<int>(len % 3), "long");
        }
    }
}

TEST(EngineEquivalence, Utf8ReadAtEveryOffsetOfABlock)
{
    // A sequence that needs care, at each position of the first blocks, in
    // CJK, Latin and ASCII surroundings.
    const Bytes tricky[] = {
        "\xF0\x9F\x98\x80", "\xE0\xA0", "\xED\xA0\xBD\xED\xB8\x80", "\xC3", "\xE3\x81\x82\xC3\xA9", "\x80",
        "\xE0\x9F\x80"};
    Bytes cjk;
    Bytes latin;
    for (int k = 0; k < 80; ++k) {
        appendUtf8(cjk, 0x4E00 + 37 * k);
        latin += k % 9 == 4 ? "\xC3\xA9" : "abcdefgh";
    }
    const Bytes surroundings[] = {cjk, latin, Bytes(300, 'x')};
    for (const Bytes& around : surroundings) {
        for (const Bytes& t : tricky) {
            for (uint32_t at = 0; at < 200; ++at) {
                Bytes in = around;
                in.insert(at, t);
                for (int to : {1200, 932, 1252, 65005}) expectSame(65001, to, in, 0, "block offset");
            }
        }
    }
}

TEST(EngineEquivalence, SoundMarksAfterPieceEdges)
{
    // A half-width katakana and the voiced sound mark after it make one
    // character in ISO-2022-JP even when the pivot text is cut between them.
    for (uint32_t shift = 0; shift < 6; ++shift) {
        Bytes utf8(shift, 'a');
        Bytes euc(shift, 'a');
        for (int k = 0; k < 9000; ++k) {
            utf8 += k % 3 == 0 ? "\xEF\xBD\xB6\xEF\xBE\x9E" : k % 3 == 1 ? "\xEF\xBE\x8A\xEF\xBE\x9F" : "\xEF\xBD\xB3";
            euc += k % 2 == 0 ? "\x8E\xB6\x8E\xDE" : "\x8E\xCA";
        }
        expectSame(65001, 50220, utf8, 0, "sound marks");
        expectSame(51932, 50221, euc, 1, "sound marks");
    }
}

TEST(EngineEquivalence, UnitsThatPairAcrossPieces)
{
    // Surrogates split by a piece edge still pair in UTF-8 (UTF-16 input) and
    // come through a table decoding one unit at a time.
    for (uint32_t units : {8190u, 8191u, 32767u, 32768u, 65535u}) {
        Bytes in;
        for (uint32_t k = 0; k < units; ++k) in += u16({k % 5 == 0 ? 0x3042u : 0x41u});
        in += u16({0xD83D, 0xDE00, 0xD83D, 0x41});
        expectSame(1200, 65001, in, 0, "pair at the edge");
        expectSame(1200, 50220, in, 1, "pair at the edge");
    }
}

}  // namespace
