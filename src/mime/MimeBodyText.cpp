// Text bodies as written: charset (RFC 2046 section 4.1.2) and transfer coding
// (RFC 2045 section 6).
#include "mime/MimeBodyText.h"

#include <string>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/Utf8Check.h"
#include "foundation/StringBuffer.h"
#include "html/HtmlHelp.h"
#include "mime/MailTextCharset.h"
#include "mime/MimeField.h"
#include "mime/MimeHeader.h"
#include "mime/MimeParamList.h"
#include "mime/MimeText.h"

namespace hanamail {

namespace {

bool sameCharset(const StringBuffer& declared, const char* name)
{
    if (declared.equalsIgnoreCase(name)) return true;
    const int cp = charsetToCodePage(declared.getString());
    return cp != 0 && cp == charsetToCodePage(name);
}

// Parameters split at the ';' outside quoted strings.
std::vector<std::string> splitParams(const std::string& v)
{
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false;
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (quoted && c == '\\' && i + 1 < v.size()) {
            cur += c;
            cur += v[++i];
            continue;
        }
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

bool isParam(const std::string& p, const char* attribute)
{
    const size_t eq = p.find('=');
    if (eq == std::string::npos) return false;
    size_t a = 0;
    size_t b = eq;
    while (a < b && (p[a] == ' ' || p[a] == '\t')) ++a;
    while (b > a && (p[b - 1] == ' ' || p[b - 1] == '\t')) --b;
    StringBuffer attr(p.substr(a, b - a).c_str());
    return attr.equalsIgnoreCase(attribute);
}

std::string withParam(const std::string& value, const char* attribute, const char* paramValue)
{
    StringBuffer param(" ");
    param << attribute << "=";
    mimetext::appendQuoted(param, paramValue);
    // The media type ends where readers end it; the list is split after it.
    const size_t typeEnd = MimeParamList::mediaTypeEnd(value);
    std::vector<std::string> parts{value.substr(0, typeEnd)};
    if (typeEnd != std::string::npos) {
        std::vector<std::string> list = splitParams(value.substr(typeEnd + 1));
        parts.insert(parts.end(), list.begin(), list.end());
    }
    bool replaced = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (isParam(parts[i], attribute)) {
            parts[i] = param.getString();
            replaced = true;
        }
    }
    if (!replaced) parts.insert(parts.begin() + 1, param.getString());
    std::string r = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) r += ";" + parts[i];
    return r;
}

}  // namespace

const DataBuffer& MimeBodyText::current() const
{
    if (m_useConverted) return m_converted;
    static const DataBuffer kEmpty;
    return m_source ? *m_source : kEmpty;
}

bool MimeBodyText::convertTo(int cp, const DataBuffer& utf8)
{
    m_converted.clear();
    return mailtext::convert(cp, utf8.getData(), utf8.getSize(), m_converted);
}

bool MimeBodyText::prepare(const StringBuffer& contentType, const Charset& charset, const DataBuffer& body,
                           bool rewriteMeta)
{
    m_source = &body;
    m_useConverted = false;
    m_label.clear();
    m_failure = body.failure();
    if (m_failure != BufferFailure::None) return false;
    const bool highBytes = mimetext::hasHighBytes(body.getData(), body.getSize());
    // 8-bit text that claims no charset is labelled UTF-8 when it is UTF-8;
    // other bytes (a file in some legacy charset) are better unlabelled than
    // mislabelled.
    const bool utf8Text = highBytes && utf8check::isValid(body.getData(), body.getSize());
    // An entity without content type is text/plain; its bytes stay as they are.
    if (contentType.isEmpty()) {
        if (utf8Text) m_label = kUtf8Label;
        return true;
    }
    if (!mimetext::beginsWithNoCase(contentType, "text/")) return true;

    const int cp = charset.getCodePage();
    std::string name = charset.getName() ? charset.getName() : "";
    if (cp == 0 || cp == kUsAscii) {
        if (utf8Text) {
            m_label = kUtf8Label;
            name = kUtf8Label;
        }
    } else if (cp != kUtf8) {
        if (convertTo(cp, body)) {
            m_useConverted = true;
            const std::string written = mailtext::label(cp, name.c_str(), m_converted.getData(), m_converted.getSize());
            if (written != mailtext::mimeName(cp, name.c_str())) {
                m_label = written;
                name = written;
            }
        } else if (m_converted.hasFailed()) {
            m_failure = m_converted.failure();
            return false;
        } else {
            // Characters the charset lacks would be dropped: keep the text whole.
            m_converted.clear();
            mailtext::noteFallback(name.c_str());
            m_label = kUtf8Label;
            name = kUtf8Label;
        }
    }

    if (!rewriteMeta || name.empty() || !contentType.equalsIgnoreCase("text/html")) return true;
    // Markup is searched in the UTF-8 text: in UTF-16 or UTF-32 bytes the
    // ASCII of a tag is not contiguous and replacing it would corrupt them.
    StringBuffer html(reinterpret_cast<const char*>(body.getData()), static_cast<int32_t>(body.getSize()), 0);
    StringBuffer declared;
    if (html.hasFailed()) {
        m_failure = html.failure();
        return false;
    }
    if (!HtmlHelp::getMetaCharset(html, declared) || sameCharset(declared, name.c_str())) return true;
    HtmlHelp::removeMetaCharset(html);
    HtmlHelp::addMetaCharset(html, name.c_str());
    m_rewritten.clear();
    if (html.hasFailed() || !m_rewritten.append(html.getString(), static_cast<uint32_t>(html.getSize()))) {
        m_failure = html.hasFailed() ? html.failure() : m_rewritten.failure();
        return false;
    }
    m_source = &m_rewritten;
    if (m_useConverted && !convertTo(cp, m_rewritten)) {
        if (m_converted.hasFailed()) {
            m_failure = m_converted.failure();
            return false;
        }
        // The declaration is ASCII; this only fails with the text itself.
        m_useConverted = false;
    }
    return true;
}

bool MimeBodyText::copyWithParam(const MimeHeader& in, const char* attribute, const char* value, MimeHeader& out)
{
    out.Clear();
    out.setHeaderCodePage(in.headerCodePage());
    bool changed = false;
    for (int i = 0; i < in.GetFieldCount(); ++i) {
        const MimeField* f = in.GetFieldByIndex(i);
        if (!f) continue;
        if (!changed && f->NameEquals("content-type")) {
            const std::string v(f->value().getString(), static_cast<size_t>(f->value().getSize()));
            out.AddField(new MimeField(f->name().getString(), withParam(v, attribute, value).c_str()));
            changed = true;
        } else {
            out.AddField(f->Clone());
        }
    }
    return changed;
}

void MimeBodyText::copyWithCharsetLabel(const MimeHeader& in, const char* fieldName, const char* charsetName,
                                        MimeHeader& out)
{
    if (!copyWithParam(in, "charset", charsetName, out)) {
        StringBuffer v("text/plain; charset=");
        mimetext::appendQuoted(v, charsetName);
        out.AddField(new MimeField(fieldName, v.getString()));
    }
}

void MimeBodyText::writeHeader(const MimeHeader& header, const char* contentTypeName, const char* excludedPrefix,
                               const Charset& cs, StringBuffer& out, const char* newBoundary) const
{
    MimeHeader changed;
    const MimeHeader* written = &header;
    if (!m_label.empty()) {
        copyWithCharsetLabel(header, contentTypeName, m_label.c_str(), changed);
        written = &changed;
    } else if (newBoundary && copyWithParam(header, "boundary", newBoundary, changed)) {
        written = &changed;
    }
    // An empty header is its empty line alone: in a part it takes back the
    // delimiter's line end, at the start of the text there is none to take.
    const bool atStart = out.getSize() == 0;
    written->WriteMime(out, excludedPrefix, cs);
    out << (atStart && out.getSize() == 0 ? "\r\n" : "\r\n\r\n");
}

}  // namespace hanamail
