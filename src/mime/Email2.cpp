#include "mime/Email2.h"

#include "mime/MimeBodyText.h"
#include "mime/MimeWriteHelp.h"

namespace {

bool isText(const char* s, const char* prefix)
{
    return MimeWriteHelp::beginsWithNoCase(s, prefix);
}

bool notEmpty(const char* s)
{
    return s && *s;
}

}  // namespace

Email2::Email2() = default;

Email2::~Email2()
{
    m_parts.removeAllObjects();
}

void Email2::SetBody(const void* bytes, uint32_t n)
{
    m_body.clear();
    if (bytes && n) m_body.append(bytes, n);
}

void Email2::TakeBody(DataBuffer& from)
{
    m_body.takeOver(from);
}

// ---- Entity fields

void Email2::SetContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                            const Charset& charset, const char* boundary, const char* smimeType, const char* type)
{
    // The arguments may be this entity's own fields (a rebuild that keeps some): copy them first.
    const StringBuffer contentTypeArg(contentType ? contentType : ""), nameArg(name ? name : "");
    const StringBuffer protocolArg(protocol ? protocol : ""), micalgArg(micalg ? micalg : "");
    const StringBuffer boundaryArg(boundary ? boundary : ""), smimeTypeArg(smimeType ? smimeType : "");
    const StringBuffer typeArg(type ? type : "");
    const Charset charsetArg(charset);
    if (!contentTypeArg.isEmpty())
        m_contentType.setString(contentTypeArg.getString());
    else if (m_contentType.isEmpty())
        m_contentType.setString("text/plain");
    m_name.clear();
    m_protocol.clear();
    m_micalg.clear();
    m_boundary.clear();
    m_smimeType.clear();
    m_type.clear();

    StringBuffer value(m_contentType);
    const char* ct = m_contentType.getString();
    if (isText(ct, "text") || isText(ct, "message") || isText(typeArg.getString(), "text")) {
        if (charsetArg.getCodePage() != 0) {
            value.append("; charset=");
            MimeWriteHelp::appendQuoted(value, charsetArg.getName());
            value.append(";");
        }
        m_charset = charsetArg;
    } else {
        value.append(";");
    }

    auto add = [&value](const char* arg, const char* before, bool quoted, StringBuffer& field) {
        if (!notEmpty(arg)) return;
        if (value.lastChar() != ';') value.appendChar(';');
        value.append(before);
        if (quoted)
            MimeWriteHelp::appendQuoted(value, arg);
        else
            value.append(arg);
        value.append(";");
        field.setString(arg);
    };
    add(typeArg.getString(), " type=", true, m_type);
    add(boundaryArg.getString(), "\r\n\tboundary=", true, m_boundary);
    add(nameArg.getString(), "\r\n\tname=", true, m_name);
    add(protocolArg.getString(), "\r\n\tprotocol=", true, m_protocol);
    add(micalgArg.getString(), "\r\n\tmicalg=", false, m_micalg);
    add(smimeTypeArg.getString(), "\r\n\tsmime-type=", false, m_smimeType);

    if (m_formatFlowed && m_contentType.equalsIgnoreCase("text/plain")) value.append("\r\n\tformat=flowed;");
    value.trim2();
    if (value.lastChar() == ';') {
        value.shorten(1);
        value.trim2();
    }
    m_header.ReplaceField("Content-Type", value.getString());
}

void Email2::SetDisposition(const char* disposition, const char* filename)
{
    m_disposition.setString(disposition ? disposition : "");
    m_filename.setString(filename ? filename : "");
    StringBuffer value(m_disposition);
    if (filename) {
        value.append("; filename=");
        MimeWriteHelp::appendQuoted(value, filename);
    }
    m_header.ReplaceField("Content-Disposition", value.getString());
}

void Email2::SetTransferEncoding(const char* value)
{
    m_transferEncoding.setString(value ? value : "");
    m_transferEncoding.trim2();
    m_header.ReplaceField("Content-Transfer-Encoding", m_transferEncoding.getString());
}

void Email2::SetContentId(const char* value)
{
    m_contentId.setString(value ? value : "");
    m_header.ReplaceField("Content-ID", m_contentId.getString());
}

bool Email2::IsMultipart() const
{
    return MimeWriteHelp::beginsWithNoCase(m_contentType, "multipart");
}

bool Email2::IsMultipartMixed() const
{
    return m_contentType.equalsIgnoreCase("multipart/mixed");
}

bool Email2::IsMultipartAlternative() const
{
    return m_contentType.equalsIgnoreCase("multipart/alternative");
}

bool Email2::IsMultipartRelated() const
{
    return m_contentType.equalsIgnoreCase("multipart/related");
}

bool Email2::IsAttachmentLike() const
{
    if (m_contentType.equalsIgnoreCase("message/rfc822")) return false;
    if (m_disposition.equalsIgnoreCase("attachment")) return true;
    const bool inlined = m_disposition.equalsIgnoreCase("inline");
    if (!inlined && !m_name.isEmpty() && m_transferEncoding.equalsIgnoreCase("base64")) return true;
    return inlined && !IsMultipart() && !m_filename.isEmpty();
}

// ---- Sub-parts

Email2* Email2::GetPart(int i) const
{
    if (i < 0 || i >= m_parts.getSize()) return nullptr;
    return static_cast<Email2*>(m_parts.get(i));
}

void Email2::AddPart(Email2* part)
{
    if (part && m_parts.append(part) < 0) delete part;
}

void Email2::InsertPart(int i, Email2* part)
{
    if (!part) return;
    if (i < 0) i = 0;
    if (i > m_parts.getSize()) i = m_parts.getSize();
    if (!m_parts.insertAt(i, part)) delete part;
}

Email2* Email2::DetachPart(int i)
{
    if (i < 0 || i >= m_parts.getSize()) return nullptr;
    return static_cast<Email2*>(m_parts.removeAt(i));
}

void Email2::RemovePart(int i)
{
    delete DetachPart(i);
}

// ---- Body parts

const Email2* Email2::findBody(const char* contentType, bool alternativesOnly) const
{
    const Email2* node = this;
    while (!node->IsMultipartAlternative() && node->GetPartCount() > 0) node = node->GetPart(0);
    if (!node->IsMultipartAlternative() || node->GetPartCount() == 0)
        return (!alternativesOnly && node->m_contentType.equalsIgnoreCase(contentType)) ? node : nullptr;
    for (int i = 0; i < node->GetPartCount(); ++i) {
        const Email2* p = node->GetPart(i);
        if (!p->IsMultipart() && !p->m_disposition.equalsIgnoreCase("attachment") &&
            p->m_contentType.equalsIgnoreCase(contentType))
            return p;
    }
    return nullptr;
}

const Email2* Email2::FindHtmlBody() const
{
    return findBody("text/html", false);
}

Email2* Email2::FindHtmlBody()
{
    return const_cast<Email2*>(findBody("text/html", false));
}

const Email2* Email2::FindPlainTextBody(bool alternativesOnly) const
{
    return findBody("text/plain", alternativesOnly);
}

Email2* Email2::FindPlainTextBody(bool alternativesOnly)
{
    return const_cast<Email2*>(findBody("text/plain", alternativesOnly));
}

// ---- Output

void Email2::NormaliseTransferEncodings(Email2& node)
{
    const int cp = node.m_charset.getCodePage();
    bool recode = node.m_contentType.equalsIgnoreCase("text/html");
    if (!recode && (node.m_contentType.isEmpty() || MimeWriteHelp::beginsWithNoCase(node.m_contentType, "text/")))
        recode = node.m_transferEncoding.equalsIgnoreCase("8bit") ||
                 MimeWriteHelp::hasHighBytes(node.m_body.getData(), node.m_body.getSize());
    if (recode) node.SetTransferEncoding(MimeWriteHelp::TransferEncodingForCodePage(cp));
    for (int i = 0; i < node.GetPartCount(); ++i) NormaliseTransferEncodings(*node.GetPart(i));
}

void Email2::WriteMimeText(StringBuffer& out, const char* excludedPrefix) const
{
    writeMimeText(out, excludedPrefix, *this, 0);
}

Charset Email2::headerCharset(const Email2& root, int depth) const
{
    Charset cs = root.m_charset;
    if (depth == 0 && cs.getCodePage() == 0) {
        const Email2* html = root.FindHtmlBody();
        if (html && html->m_charset.getCodePage() != 0) {
            cs = html->m_charset;
        } else {
            const Email2* plain = root.FindPlainTextBody(true);
            if (plain && plain->m_charset.getCodePage() != 0) cs = plain->m_charset;
        }
    }
    // An attached file's name is best written in the charset of its own text.
    if (IsAttachmentLike() && m_charset.getCodePage() != 0) cs = m_charset;
    return cs;
}

void Email2::writeMimeText(StringBuffer& out, const char* excludedPrefix, const Email2& root, int depth) const
{
    const Charset cs = headerCharset(root, depth);
    const bool multipart = GetPartCount() > 0;
    MimeBodyText text;
    if (!multipart) text.prepare(m_contentType, m_charset, m_body, true);
    if (text.needsUtf8Label()) {
        MimeHeader labelled;
        MimeBodyText::copyWithCharsetLabel(m_header, "Content-Type", MimeBodyText::kUtf8Label, labelled);
        labelled.WriteMime(out, excludedPrefix, cs);
    } else {
        m_header.WriteMime(out, excludedPrefix, cs);
    }
    out.append("\r\n\r\n");
    if (!multipart) {
        MimeWriteHelp::appendEncoded(m_transferEncoding, text.data(), text.size(), out);
        return;
    }
    out.append(MimeWriteHelp::kPreamble);
    for (int i = 0; i < GetPartCount(); ++i) {
        out.append("--");
        out.append(m_boundary);
        out.append("\r\n");
        GetPart(i)->writeMimeText(out, excludedPrefix, root, depth + 1);
        out.append("\r\n");
    }
    out.append("--");
    out.append(m_boundary);
    out.append("--\r\n");
}
