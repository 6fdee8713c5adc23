// Arbitrary bytes through the conversion engine: every source read into
// UTF-8 and UTF-16, and UTF-8/UTF-16 written out to every kind of target.
// Beyond "no crash" it checks what the engine promises about its output.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"
#include "charset/Japanese.h"
#include "charset/Korean.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

namespace {

const int kSources[] = {65001, 1200, 1201,  65000, 65005, 65006, 50220, 50221, 50222, 50225, 932,   936,  949,
                        950,   1361, 10001, 51932, 51936, 51949, 1252,  20261, 28591, 37,    54936, 52936};
const int kTargets[] = {65001, 1200,  1201, 65000, 65005, 65006, 50220, 50225,
                        932,   51932, 949,  936,   1252,  20127, 54936, 52936};

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

void requireSevenBit(const DataBuffer& b)
{
    for (uint32_t i = 0; i < b.getSize(); ++i) require(b.getData()[i] < 0x80);
}

// HZ's GB mode (~{) is left before every CR and LF and at the end; "~~" is a tilde.
void requireClosedHz(const DataBuffer& b)
{
    const unsigned char* p = b.getData();
    const uint32_t n = b.getSize();
    bool gb = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (gb) {
            // Pairs from the "~{" on; a pair's second byte may be a tilde.
            require(i + 1 < n && p[i] != '\r' && p[i] != '\n');
            gb = !(p[i] == '~' && p[i + 1] == '}');
            ++i;
        } else if (p[i] == '~') {
            require(i + 1 < n && (p[i + 1] == '~' || p[i + 1] == '{'));
            gb = p[i + 1] == '{';
            ++i;
        }
    }
    require(!gb);
}

// JIS mode (ESC $ B) is left before every CR and LF and at the end.
void requireClosedJis(const DataBuffer& b)
{
    const unsigned char* p = b.getData();
    const uint32_t n = b.getSize();
    bool jis = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (p[i] == 0x1B && i + 2 < n) jis = p[i + 1] == '$' ? true : (p[i + 1] == '(' ? false : jis);
        if (p[i] == '\r' || p[i] == '\n') require(!jis);
    }
    require(!jis);
}

void requireUtf8(const DataBuffer& b)
{
    const unsigned char* p = b.getData();
    uint32_t i = 0;
    while (i < b.getSize()) {
        uint32_t cp;
        const int len = EncodingUtf8::decode(p + i, b.getSize() - i, cp);
        require(len > 0);
        i += static_cast<uint32_t>(len);
    }
}

bool same(const DataBuffer& a, const DataBuffer& b)
{
    return a.getSize() == b.getSize() && (a.getSize() == 0 || std::memcmp(a.getData(), b.getData(), a.getSize()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16) return 0;
    const uint32_t n = static_cast<uint32_t>(size);
    EncodingConvert conv;

    for (int from : kSources) {
        DataBuffer u8, u16;
        conv.convert(from, 65001, data, n, u8);
        conv.convert(from, 1200, data, n, u16);
        if (from != 65001) requireUtf8(u8);
    }
    // An ESC in the text is passed on as it is, so mode checks use text without one.
    DataBuffer plain;
    if (!plain.append(data, n)) return 0;
    unsigned char* q = plain.getDataMutable();
    for (uint32_t i = 0; i < n; ++i) {
        if (q[i] == 0x1B) q[i] = 'x';
    }
    for (int from : {65001, 1200}) {
        for (int to : kTargets) {
            DataBuffer out;
            conv.convert(from, to, plain.getData(), n, out);
            if (to == 50220 || to == 50225 || to == 65000 || to == 52936) requireSevenBit(out);
            if (to == 50220) requireClosedJis(out);
            if (to == 52936) requireClosedHz(out);
        }
    }

    // UTF-8 -> UTF-16 -> UTF-8 -> UTF-16 settles after the first step.
    DataBuffer a, b, c;
    conv.convert(65001, 1200, data, n, a);
    conv.convert(1200, 65001, a.getData(), a.getSize(), b);
    conv.convert(65001, 1200, b.getData(), b.getSize(), c);
    require(same(a, c));

    // Unicode text that gb18030 holds whole comes back from it as it was, and
    // what comes back from either is written again to the same bytes.
    for (int cp : {54936, 52936}) {
        DataBuffer there, back, again;
        const bool whole = conv.convert(1200, cp, a.getData(), a.getSize(), there);
        conv.convert(cp, 1200, there.getData(), there.getSize(), back);
        if (whole && cp == 54936) require(same(a, back));
        require(conv.convert(1200, cp, back.getData(), back.getSize(), again));
        require(same(there, again));
    }

    // The 7-bit encoders take raw 8-bit input too.
    DataBuffer jis, kr, sjis, ks;
    Japanese().sjisToJis(plain.getData(), n, jis);
    requireSevenBit(jis);
    requireClosedJis(jis);
    Korean().ksToIso2022kr(data, n, kr);
    requireSevenBit(kr);
    Japanese().jisToSjis(data, n, sjis);
    Korean().iso2022krToKs(data, n, ks);
    return 0;
}
