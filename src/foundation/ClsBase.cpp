#include "foundation/ClsBase.h"

#include "foundation/StringBuffer.h"
#include "foundation/XString.h"

namespace hanamail {

void ClsBase::getErrorText(XString& out, bool crlf)
{
    StringBuffer text;
    getErrorTextUtf8(text, crlf);
    out.setFromUtf8(text.getString());
}

void ClsBase::getErrorTextUtf8(StringBuffer& out, bool crlf)
{
    StringBuffer text;
    m_log.getText(text);
    if (crlf) text.toCrlf();
    out.clear();
    out << text.getString();
    if (text.hasFailed()) out.markFailed(text.failure());
}

bool ClsBase::saveErrorXml(const char* utf8FileName)
{
    if (!utf8FileName) return false;
    StringBuffer name(utf8FileName);
    name.trim2();
    if (name.isEmpty()) return false;
    return m_log.saveXml(false, name.getString());
}

bool ClsBase::saveErrorXml(const XString& fileName)
{
    return saveErrorXml(fileName.getUtf8());
}

}  // namespace hanamail
