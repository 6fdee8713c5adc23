#include "mime/MailTextCharset.h"

#include <array>
#include <cstring>

#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace mailtext {

namespace {

// The JIS form of a character and its twin in the Windows Japanese code pages.
struct Twin {
    const char* jis;  // UTF-8
    const char* win;  // UTF-8
};
constexpr std::array<Twin, 7> kTwins{{
    {"\xE3\x80\x9C", "\xEF\xBD\x9E"},  // U+301C WAVE DASH -> U+FF5E FULLWIDTH TILDE
    {"\xE2\x80\x96", "\xE2\x88\xA5"},  // U+2016 DOUBLE VERTICAL LINE -> U+2225 PARALLEL TO
    {"\xE2\x88\x92", "\xEF\xBC\x8D"},  // U+2212 MINUS SIGN -> U+FF0D FULLWIDTH HYPHEN-MINUS
    {"\xC2\xA2", "\xEF\xBF\xA0"},      // U+00A2 CENT SIGN -> U+FFE0
    {"\xC2\xA3", "\xEF\xBF\xA1"},      // U+00A3 POUND SIGN -> U+FFE1
    {"\xC2\xAC", "\xEF\xBF\xA2"},      // U+00AC NOT SIGN -> U+FFE2
    {"\xE2\x80\x94", "\xE2\x80\x95"},  // U+2014 EM DASH -> U+2015 HORIZONTAL BAR
}};

bool holds(int cp, const char* utf8)
{
    EncodingConvert ec;
    DataBuffer out;
    return ec.convert(kUtf8, cp, utf8, static_cast<uint32_t>(std::strlen(utf8)), out) && out.getSize() > 0;
}

// Bit i: cp lacks the JIS form of kTwins[i] and holds its twin. The ISO-2022-JP
// code pages are Shift_JIS underneath, so 932 answers for them.
unsigned twinMask(int cp)
{
    static const std::array<unsigned, 2> masks = [] {
        std::array<unsigned, 2> m{};
        const int cps[2] = {932, 51932};
        for (size_t k = 0; k < 2; ++k)
            for (size_t i = 0; i < kTwins.size(); ++i)
                if (!holds(cps[k], kTwins[i].jis) && holds(cps[k], kTwins[i].win)) m[k] |= 1u << i;
        return m;
    }();
    if (cp == 932 || cp == 50220 || cp == 50221 || cp == 50222) return masks[0];
    if (cp == 51932) return masks[1];
    return 0;
}

// The length of the JIS form at s[i] that cp writes as its twin (its index in t), or 0.
size_t twinAt(unsigned mask, const unsigned char* s, uint32_t i, uint32_t n, size_t& t)
{
    const unsigned char c = s[i];
    if (c != 0xC2 && c != 0xE2 && c != 0xE3) return 0;
    for (t = 0; t < kTwins.size(); ++t) {
        const size_t len = std::strlen(kTwins[t].jis);
        if ((mask & (1u << t)) && n - i >= len && std::memcmp(s + i, kTwins[t].jis, len) == 0) return len;
    }
    return 0;
}

// True (and out filled) when the text holds a JIS form that cp writes as its twin.
// A lead byte is never a continuation byte, so a match is always a whole character.
bool withTwins(unsigned mask, const unsigned char* s, uint32_t n, std::string& out)
{
    bool any = false;
    for (uint32_t i = 0; i < n;) {
        size_t t = 0;
        const size_t len = twinAt(mask, s, i, n, t);
        if (len == 0) {
            if (any) out += static_cast<char>(s[i]);
            ++i;
            continue;
        }
        if (!any) {
            out.reserve(n + 8);
            out.assign(reinterpret_cast<const char*>(s), i);
            any = true;
        }
        out += kTwins[t].win;
        i += static_cast<uint32_t>(len);
    }
    return any;
}

// GB2312 proper in code page 936: rows 1-9 (symbols, kana, Greek, Cyrillic,
// pinyin, box drawing) as assigned, and rows 16-87 (Han). A1A4 and A1AA are
// excluded: 936 gives them U+00B7 and U+2014, strict GB2312 readers U+30FB and
// U+2015, so text holding them is only read right under "gbk".
bool isGb2312Pair(unsigned l, unsigned t)
{
    if (t < 0xA1 || t > 0xFE) return false;
    switch (l) {
        case 0xA1: return t != 0xA4 && t != 0xAA;
        case 0xA2: return (t >= 0xB1 && t <= 0xE2) || (t >= 0xE5 && t <= 0xEE) || (t >= 0xF1 && t <= 0xFC);
        case 0xA3: return true;
        case 0xA4: return t <= 0xF3;
        case 0xA5: return t <= 0xF6;
        case 0xA6: return t <= 0xB8 || (t >= 0xC1 && t <= 0xD8);
        case 0xA7: return t <= 0xC1 || (t >= 0xD1 && t <= 0xF1);
        case 0xA8: return t <= 0xBA || (t >= 0xC5 && t <= 0xE9);
        case 0xA9: return t >= 0xA4 && t <= 0xEF;
        case 0xD7: return t <= 0xF9;
        default: return l >= 0xB0 && l <= 0xF7;
    }
}

bool isGb2312(const unsigned char* s, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (s[i] < 0x80) continue;
        if (i + 1 >= n || !isGb2312Pair(s[i], s[i + 1])) return false;
        ++i;
    }
    return true;
}

thread_local Watch* t_watch = nullptr;

}  // namespace

bool convert(int cp, const void* utf8, uint32_t n, DataBuffer& out)
{
    EncodingConvert ec;
    const unsigned mask = twinMask(cp);
    std::string twinned;
    if (mask != 0 && withTwins(mask, static_cast<const unsigned char*>(utf8), n, twinned))
        return ec.convert(kUtf8, cp, twinned.data(), static_cast<uint32_t>(twinned.size()), out);
    return ec.convert(kUtf8, cp, utf8, n, out);
}

const char* label(int cp, const char* name, const unsigned char* converted, uint32_t n)
{
    if (cp == 936 && !isGb2312(converted, n)) return "gbk";
    return mimeName(cp, name);
}

const char* mimeName(int cp, const char* name)
{
    if (cp == 1200) return "utf-16le";
    if (cp == 1201) return "utf-16be";
    return name ? name : "";
}

Watch::Watch() : m_outer(t_watch)
{
    t_watch = this;
}

Watch::~Watch()
{
    t_watch = m_outer;
}

void noteFallback(const char* charsetName)
{
    for (Watch* w = t_watch; w; w = w->m_outer)
        if (w->m_charset.empty() && charsetName && *charsetName) w->m_charset = charsetName;
}

}  // namespace mailtext

}  // namespace hanamail
