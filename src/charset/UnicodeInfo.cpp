#include "charset/UnicodeInfo.h"

#include "charset/Charset.h"
#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

bool in(uint32_t u, uint32_t lo, uint32_t hi)
{
    return u >= lo && u <= hi;
}
}  // namespace

void UnicodeInfo::countUnits(const OLECHAR* units, uint32_t n, Counts& c)
{
    if (!units) return;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t u = static_cast<uint16_t>(units[i]);
        if (u < 0x80)
            ++c.ascii;
        else if (u <= 0xFF)
            ++c.latin1;
        else if (in(u, 0x100, 0x2FF))
            ++c.latinExt;
        else if (in(u, 0x370, 0x3FF))
            ++c.greek;
        else if (in(u, 0x400, 0x4FF))
            ++c.cyrillic;
        else if (in(u, 0x590, 0x5FF))
            ++c.hebrew;
        else if (in(u, 0x600, 0x6FF))
            ++c.arabic;
        else if (in(u, 0xE00, 0xE7F))
            ++c.thai;
        else if (in(u, 0xAC00, 0xD7AF))
            ++c.hangul;
        else if (in(u, 0x4E00, 0x9FAF))
            ++c.han;
        else if (in(u, 0x3040, 0x30FF) || in(u, 0x2F00, 0x2FDF))
            ++c.kana;
        else if (in(u, 0x3200, 0x32FF) || in(u, 0x25A0, 0x26FF) || in(u, 0xFE20, 0xFE6F) || in(u, 0xFF00, 0xFFEF) ||
                 in(u, 0x3000, 0x303F))
            continue;  // symbols and punctuation that most charsets of the scripts share
        else if (in(u, 0x3400, 0x4DBF))
            ++c.han;
        else if (in(u, 0x1100, 0x11FF))
            ++c.hangul;
        else
            ++c.other;
    }
}

int UnicodeInfo::codePageFor(const Counts& c)
{
    const uint32_t beyondLatin =
        c.greek + c.cyrillic + c.hebrew + c.arabic + c.thai + c.hangul + c.han + c.kana + c.other;
    if (beyondLatin == 0 && c.latin1 == 0 && c.latinExt == 0) return 0;
    if (beyondLatin == 0 && c.latinExt == 0) return 28591;
    if (beyondLatin == 0) return 28592;

    const int scripts = (c.greek > 0) + (c.hebrew > 0) + (c.thai > 0) + (c.arabic > 0) + (c.kana > 0) + (c.hangul > 0) +
                        (c.cyrillic > 0);
    if (scripts < 2) {
        if (c.kana) return 932;
        if (c.hangul) return 949;
        if (c.han) return 936;
        if (c.hebrew) return 28598;
        if (c.arabic) return 28596;
        if (c.cyrillic) return 28595;
        if (c.greek) return 28597;
        if (c.thai) return 874;
    }
    return kUtf8;
}

int UnicodeInfo::chooseCodePage(const OLECHAR* units, uint32_t n)
{
    Counts counts;
    countUnits(units, n, counts);
    const int cp = codePageFor(counts);
    if (cp == 0 || cp == kUtf8) return cp;
    // The scripts alone do not say that every character is in the charset
    // (œ is not in ISO-8859-2, « not in ISO-8859-5); UTF-8 loses nothing.
    EncodingConvert ec;
    DataBuffer out;
    if (!ec.convert(kUtf16, cp, units, n * 2, out)) return kUtf8;
    return cp;
}

void UnicodeInfo::chooseCharset(const OLECHAR* units, uint32_t n, Charset& out)
{
    out.setByCodePage(chooseCodePage(units, n));
}

}  // namespace hanamail
