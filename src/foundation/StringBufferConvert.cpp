// The StringBuffer operations that need the conversion engine, and the
// in-place writing used by the encoders.
#include <cstring>

#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "platform/Automation.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

// Replaces the content of sb by the converted bytes; keeps it when they do not fit.
bool replaceContent(StringBuffer& sb, const DataBuffer& converted)
{
    if (converted.getSize() >= static_cast<uint32_t>(StringBuffer::kMaxLength)) return false;
    sb.clear();
    return sb.appendN(reinterpret_cast<const char*>(converted.getData()), static_cast<int32_t>(converted.getSize()));
}

}  // namespace

StringBuffer::StringBuffer(BSTR bstr) : StringBuffer(4)
{
    UINT units = bstr ? SysStringLen(bstr) : 0;
    if (units == 0) return;
    DataBuffer converted;
    EncodingConvert ec;
    ec.convertToAnsi(kUtf16, bstr, units * 2u, converted);
    replaceContent(*this, converted);
}

bool StringBuffer::convertCodePage(int fromCp, int toCp)
{
    if (!alive()) return false;
    if (fromCp == toCp || m_length == 0) return true;
    DataBuffer converted;
    EncodingConvert ec;
    bool ok = ec.convert(fromCp, toCp, m_data, static_cast<uint32_t>(m_length), converted);
    return replaceContent(*this, converted) && ok;
}

bool StringBuffer::ansiToCodePage(int cp)
{
    return convertCodePage(platform::ansiCodePage(), cp);
}

bool StringBuffer::codePageToAnsi(int cp)
{
    return convertCodePage(cp, platform::ansiCodePage());
}

BSTR StringBuffer::getBstr() const
{
    static const OLECHAR kEmpty[1] = {0};
    if (!alive() || m_length == 0) return SysAllocStringLen(kEmpty, 0);
    DataBuffer units;
    EncodingConvert ec;
    ec.convertFromAnsi(kUtf16, m_data, static_cast<uint32_t>(m_length), units);
    if (units.getSize() < 2) return SysAllocStringLen(kEmpty, 0);
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(units.getData()), units.getSize() / 2u);
}

char* StringBuffer::reserveAppend(int32_t n)
{
    if (!alive() || n < 0) return nullptr;
    if (!reserveFor(n, m_capacity / 2)) return nullptr;
    return m_data + m_length;
}

void StringBuffer::commitAppend(int32_t n)
{
    if (!alive() || n <= 0) return;
    int32_t room = m_capacity - 1 - m_length;
    m_length += n < room ? n : room;
    m_data[m_length] = '\0';
}

}  // namespace hanamail
