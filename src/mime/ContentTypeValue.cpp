#include "mime/ContentTypeValue.h"

#include "mime/MailTextCharset.h"
#include "mime/MimeText.h"

namespace hanamail {

namespace {

using mimetext::appendQuoted;
using mimetext::beginsWithNoCase;

// Appends ';' before, unless the value already ends in one.
void separate(StringBuffer& value)
{
    if (value.lastChar() != ';') value << ';';
}

// Drops surrounding whitespace and one trailing ';'.
void trimParamList(StringBuffer& value)
{
    value.trim2();
    if (value.lastChar() == ';') {
        value.shorten(1);
        value.trim2();
    }
}

}  // namespace

void ContentTypeValue::clearContentType()
{
    m_contentType.clear();
    m_name.clear();
    m_protocol.clear();
    m_micalg.clear();
    m_boundary.clear();
    m_smimeType.clear();
    m_type.clear();
    m_charset = Charset();
    m_formatFlowed = false;
}

void ContentTypeValue::appendCharset(const Charset& charset, const StringBuffer& typeParam, CharsetRule rule,
                                     StringBuffer& value)
{
    const bool known = charset.getCodePage() != 0;
    const bool text = beginsWithNoCase(m_contentType, "text");
    if (rule == CharsetRule::TextAndMessage &&
        !(text || beginsWithNoCase(m_contentType, "message") || beginsWithNoCase(typeParam, "text"))) {
        value << ";";
        return;
    }
    if (rule == CharsetRule::AnyTypeUsAsciiText && !known && !text) {
        value << ";";
        return;
    }
    if (known) {
        value << "; charset=";
        appendQuoted(value, mailtext::mimeName(charset.getCodePage(), charset.getName()));
        value << ";";
    } else if (rule == CharsetRule::AnyTypeUsAsciiText) {
        value << "; charset=\"us-ascii\";";
    }
    m_charset = charset;
}

void ContentTypeValue::buildContentType(const char* contentType, const char* name, const char* protocol,
                                        const char* micalg, const Charset& charset, const char* boundary,
                                        const char* smimeType, const char* type, CharsetRule rule, StringBuffer& value)
{
    // The arguments may be these fields (a rebuild that keeps some): copy them first.
    const StringBuffer contentTypeArg(contentType ? contentType : "");
    const Charset charsetArg(charset);
    struct Param {
        StringBuffer arg;
        const char* before;
        bool quoted;
        StringBuffer& field;
    };
    // In the order they are written; micalg and smime-type are tokens.
    Param params[] = {
        {StringBuffer(type ? type : ""), " type=", true, m_type},
        {StringBuffer(boundary ? boundary : ""), "\r\n\tboundary=", true, m_boundary},
        {StringBuffer(name ? name : ""), "\r\n\tname=", true, m_name},
        {StringBuffer(protocol ? protocol : ""), "\r\n\tprotocol=", true, m_protocol},
        {StringBuffer(micalg ? micalg : ""), "\r\n\tmicalg=", false, m_micalg},
        {StringBuffer(smimeType ? smimeType : ""), "\r\n\tsmime-type=", false, m_smimeType},
    };
    if (!contentTypeArg.isEmpty())
        m_contentType = contentTypeArg.getString();
    else if (m_contentType.isEmpty())
        m_contentType = "text/plain";
    for (Param& p : params) p.field.clear();

    value = m_contentType.getString();
    appendCharset(charsetArg, params[0].arg, rule, value);
    for (Param& p : params) {
        if (p.arg.isEmpty()) continue;
        separate(value);
        value << p.before;
        if (p.quoted)
            appendQuoted(value, p.arg.getString());
        else
            value << p.arg;
        value << ";";
        p.field = p.arg.getString();
    }
    if (m_formatFlowed && m_contentType.equalsIgnoreCase("text/plain")) {
        // Without a charset nothing separates the parameter from the type yet.
        separate(value);
        value << "\r\n\tformat=flowed;";
    }
    trimParamList(value);
}

}  // namespace hanamail
