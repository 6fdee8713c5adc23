#include "foundation/XString.h"

#include "charset/CodePages.h"
#include "platform/Automation.h"

#include <cstring>

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"

namespace hanamail {

namespace {

alignas(OLECHAR) const unsigned char kZeroUnit[2] = {0, 0};  // read as a unit by getUnicode

// A failure to make the bytes, or to store them, stays recorded in sb.
void storeInto(StringBuffer& sb, const DataBuffer& bytes)
{
    sb.clear();
    sb << std::string_view(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
    if (bytes.hasFailed()) sb.markFailed(bytes.failure());
}

uint32_t sizeOf(const StringBuffer& sb)
{
    return static_cast<uint32_t>(sb.getSize());
}

// Ends UTF-16 text with its zero unit. When that cannot be appended (the
// failure stays recorded in u), the last unit gives way to it: the text is
// cut short, never left without an end to read up to.
void terminateUnits(DataBuffer& u)
{
    if (u.getSize() % 2 != 0) u.shorten(1);
    if (u.append(kZeroUnit, 2)) return;
    const uint32_t size = u.getSize();
    if (size >= 2) {
        unsigned char* d = u.getDataMutable();
        d[size - 2] = 0;
        d[size - 1] = 0;
    }
}

// The bytes of UTF-16 text before its zero unit.
uint32_t unitBytes(const DataBuffer& u)
{
    return u.getSize() >= 2 ? u.getSize() - 2 : 0;
}

}  // namespace

XString::XString()
{
    terminateUnits(m_unicode);
}

XString::XString(const XString& other) : TembrixObject(other)
{
    *this = other;
}

XString& XString::operator=(const XString& other)
{
    if (this == &other) return *this;
    m_ansiFit = other.m_ansiFit;
    m_haveUnicode = other.m_haveUnicode;
    m_haveAnsi = other.m_haveAnsi;
    m_haveUtf8 = other.m_haveUtf8;
    m_unicode.clear();
    (void)m_unicode.append(other.m_unicode);  // a failure stays recorded; the text is then empty
    if (m_unicode.getSize() < 2) terminateUnits(m_unicode);
    // Whole contents, NULs included; a failure (the other's too) stays recorded.
    m_ansi.clear();
    m_ansi << other.m_ansi;
    m_utf8.clear();
    m_utf8 << other.m_utf8;
    return *this;
}

XString::~XString() = default;

void XString::clear()
{
    m_unicode.clear();
    terminateUnits(m_unicode);
    m_ansi.clear();
    m_utf8.clear();
    m_haveUnicode = m_haveAnsi = m_haveUtf8 = 1;
    m_ansiFit = kFitUnknown;
}

bool XString::isEmpty() const
{
    if (m_haveUtf8) return m_utf8.isEmpty();
    if (m_haveUnicode) return m_unicode.getSize() <= 2;
    return m_ansi.isEmpty();
}

void XString::markOnly(bool unicode, bool ansi, bool utf8)
{
    m_haveUnicode = unicode;
    m_haveAnsi = ansi;
    m_haveUtf8 = utf8;
}

void XString::setFromAnsi(const char* text)
{
    if (!text || !*text) {
        clear();
        return;
    }
    (void)m_ansi.setString(text);  // a failure stays recorded in m_ansi; text may lie inside it
    markOnly(false, true, false);
    m_ansiFit = kFits;
}

void XString::setFromUtf8(const char* text)
{
    setFromUtf8N(text, text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

void XString::setFromUtf8N(const char* bytes, int32_t n)
{
    if (!bytes || n <= 0) {
        clear();
        return;
    }
    m_utf8.clear();
    m_utf8 << std::string_view(bytes, static_cast<size_t>(n));  // a failure stays recorded in m_utf8
    markOnly(false, false, true);
    m_ansiFit = kFitUnknown;
}

void XString::setFromUnicode(const OLECHAR* text)
{
    uint32_t count = 0;
    if (text)
        while (text[count] != 0) ++count;
    setFromUnicodeN(text, count);
}

void XString::setFromUnicodeN(const OLECHAR* text, uint32_t count)
{
    if (!text || count == 0 || count >= DataBuffer::kMaxSize / 2 - 1) {
        clear();
        return;
    }
    m_unicode.clear();
    (void)m_unicode.append(text, count * 2u);  // a failure stays recorded; the text is then empty
    terminateUnits(m_unicode);
    markOnly(true, false, false);
    m_ansiFit = kFitUnknown;
}

void XString::setFromBstr(BSTR bstr)
{
    clear();
    if (bstr) setFromUnicodeN(bstr, SysStringLen(bstr));
}

void XString::appendUtf8(const char* text)
{
    if (!text || !*text) return;
    deriveUtf8();
    m_utf8 << text;  // a failure stays recorded in m_utf8
    markOnly(false, false, true);
    m_ansiFit = kFitUnknown;
}

// UTF-8 and UTF-16 are derived from each other whenever one of them is
// current: the ANSI form may have lost characters and is a source only for
// text that was given in it.
void XString::deriveUnicode() const
{
    if (m_haveUnicode) return;
    EncodingConvert ec;
    m_unicode.clear();
    if (m_haveUtf8)
        ec.convert(kUtf8, kUtf16, m_utf8.getString(), sizeOf(m_utf8), m_unicode);
    else
        ec.convertFromAnsi(kUtf16, m_ansi.getString(), sizeOf(m_ansi), m_unicode);
    terminateUnits(m_unicode);
    m_haveUnicode = 1;
}

void XString::deriveUtf8() const
{
    if (m_haveUtf8) return;
    EncodingConvert ec;
    DataBuffer bytes;
    if (m_haveUnicode)
        ec.convert(kUtf16, kUtf8, m_unicode.getData(), unitBytes(m_unicode), bytes);
    else
        ec.convertFromAnsi(kUtf8, m_ansi.getString(), sizeOf(m_ansi), bytes);
    storeInto(m_utf8, bytes);
    m_haveUtf8 = 1;
}

void XString::deriveAnsi() const
{
    if (m_haveAnsi) return;
    EncodingConvert ec;
    DataBuffer bytes;
    bool ok;
    if (m_haveUtf8)
        ok = ec.convertToAnsi(kUtf8, m_utf8.getString(), sizeOf(m_utf8), bytes);
    else
        ok = ec.convertToAnsi(kUtf16, m_unicode.getData(), unitBytes(m_unicode), bytes);
    storeInto(m_ansi, bytes);
    m_haveAnsi = 1;
    m_ansiFit = ok ? kFits : kDoesNotFit;
}

const char* XString::getUtf8() const
{
    return getUtf8Sb().getString();
}

const StringBuffer& XString::getUtf8Sb() const
{
    deriveUtf8();
    return m_utf8;
}

const char* XString::getAnsi() const
{
    return getAnsiSb().getString();
}

const StringBuffer& XString::getAnsiSb() const
{
    deriveAnsi();
    return m_ansi;
}

const OLECHAR* XString::getUnicode() const
{
    deriveUnicode();
    // Only when even the zero unit could not be stored.
    if (m_unicode.getSize() < 2) return reinterpret_cast<const OLECHAR*>(kZeroUnit);
    return reinterpret_cast<const OLECHAR*>(m_unicode.getData());
}

uint32_t XString::getNumChars() const
{
    deriveUnicode();
    return unitBytes(m_unicode) / 2;
}

BSTR XString::getBstr() const
{
    return SysAllocStringLen(getUnicode(), getNumChars());
}

bool XString::isAnsiFit() const
{
    if (m_ansiFit == kFitUnknown) {
        if (m_haveUnicode || m_haveUtf8)
            m_haveAnsi = 0;  // derive it again to learn whether it fits
        else
            m_ansiFit = kFits;  // given in ANSI
        deriveAnsi();
    }
    return m_ansiFit == kFits;
}

bool XString::getConverted(const Charset& charset, DataBuffer& out) const
{
    EncodingConvert ec;
    int cp = charset.getCodePage();
    if (m_haveUtf8) return ec.convert(kUtf8, cp, m_utf8.getString(), sizeOf(m_utf8), out);
    if (m_haveUnicode) return ec.convert(kUtf16, cp, m_unicode.getData(), unitBytes(m_unicode), out);
    return ec.convertFromAnsi(cp, m_ansi.getString(), sizeOf(m_ansi), out);
}

}  // namespace hanamail
