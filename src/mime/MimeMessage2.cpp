// The MIME entity tree and its writer (RFC 2045, RFC 2046 multiparts and
// boundaries).
#include "mime/MimeMessage2.h"

#include <cstdlib>
#include <string>

#include "charset/CodePages.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "mime/BodyEncoder.h"
#include "mime/MimeBodyText.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeParamList.h"
#include "mime/MimeText.h"

namespace hanamail {

namespace {

using mimetext::trimmed;

std::string valueOf(const MimeHeader& h, const char* field)
{
    StringBuffer v;
    if (!h.GetFieldValue(field, v)) return std::string();
    return std::string(v.getString(), static_cast<size_t>(v.getSize()));
}

std::string upToSemicolon(const std::string& v)
{
    return std::string(trimmed(std::string_view(v).substr(0, v.find(';'))));
}

// Calls take(attribute, value) for each parameter of a list: quoted values
// unquoted, RFC 2231 parameters joined and decoded to UTF-8.
template <typename Take>
void forEachParam(const std::string& list, Take take)
{
    for (const hanamail::MimeParamList::Param& p : hanamail::MimeParamList::parse(list)) {
        StringBuffer attr(p.name.c_str());
        StringBuffer value;
        value << std::string_view(p.value);
        take(attr, value);
    }
}

}  // namespace

MimeMessage2::MimeMessage2() = default;

MimeMessage2::~MimeMessage2()
{
    m_parts.removeAllObjects();
}

void MimeMessage2::Reset()
{
    m_rawText.clear();
    m_modified = false;
    m_body.clear();
    m_header.Clear();
    m_preamble = true;
    m_parts.removeAllObjects();
    clearContentType();
    m_disposition.clear();
    m_transferEncoding.clear();
    m_filename.clear();
    m_contentId.clear();
}

// ---- Header

void MimeMessage2::SetHeaderField(const char* name, const char* value)
{
    StringBuffer n(name ? name : "");
    n.trim2();
    if (n.isEmpty()) return;
    StringBuffer v(value ? value : "");
    v.trim2();
    if (v.isEmpty())
        m_header.RemoveField(n.getString());
    else
        m_header.ReplaceField(n.getString(), v.getString());
    m_modified = true;
    if (n.equalsIgnoreCase("content-type"))
        readContentType();
    else if (n.equalsIgnoreCase("content-disposition"))
        readDisposition();
    else if (n.equalsIgnoreCase("content-id"))
        readContentId();
    else if (n.equalsIgnoreCase("content-transfer-encoding"))
        readTransferEncoding();
}

void MimeMessage2::ReadCachedFields()
{
    readContentType();
    readContentId();
    readDisposition();
    readTransferEncoding();
}

void MimeMessage2::readContentType()
{
    clearContentType();
    const std::string v(trimmed(valueOf(m_header, "content-type")));
    const size_t cut = MimeParamList::mediaTypeEnd(v);
    std::string ct = v.substr(0, cut);
    for (char& c : ct)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    m_contentType = ct.c_str();
    if (cut == std::string::npos) return;
    forEachParam(v.substr(cut + 1), [this](const StringBuffer& attr, StringBuffer& value) {
        if (attr.equalsIgnoreCase("boundary")) {
            m_boundary = value.getString();
            return;
        }
        if (attr.equalsIgnoreCase("charset")) {
            m_charset.setByName(value.getString());
            return;
        }
        // A name is a file name: its case is kept.
        if (attr.equalsIgnoreCase("name")) {
            m_name = value.getString();
            return;
        }
        if (attr.equalsIgnoreCase("format")) {
            m_formatFlowed = value.equalsIgnoreCase("flowed");
            return;
        }
        value.toLowerCase();
        if (attr.equalsIgnoreCase("protocol"))
            m_protocol = value.getString();
        else if (attr.equalsIgnoreCase("micalg"))
            m_micalg = value.getString();
        else if (attr.equalsIgnoreCase("smime-type"))
            m_smimeType = value.getString();
        else if (attr.equalsIgnoreCase("type"))
            m_type = value.getString();
    });
}

void MimeMessage2::readDisposition()
{
    m_disposition.clear();
    m_filename.clear();
    const std::string v = valueOf(m_header, "content-disposition");
    m_disposition = upToSemicolon(v).c_str();
    const size_t semi = v.find(';');
    if (semi == std::string::npos) return;
    forEachParam(v.substr(semi + 1), [this](const StringBuffer& attr, StringBuffer& value) {
        if (!attr.equalsIgnoreCase("filename")) return;
        value.collapseWhitespace();
        m_filename = value.getString();
    });
}

void MimeMessage2::readContentId()
{
    m_contentId = upToSemicolon(valueOf(m_header, "content-id")).c_str();
}

void MimeMessage2::readTransferEncoding()
{
    m_transferEncoding = upToSemicolon(valueOf(m_header, "content-transfer-encoding")).c_str();
}

// ---- Content-Type

void MimeMessage2::SetContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                                  const Charset& charset, const char* boundary, const char* smimeType, const char* type)
{
    m_modified = true;
    StringBuffer value;
    buildContentType(contentType, name, protocol, micalg, charset, boundary, smimeType, type,
                     CharsetRule::AnyTypeUsAsciiText, value);
    m_header.ReplaceField("content-type", value.getString());
}

void MimeMessage2::SetContentType(const char* contentType)
{
    SetContentType(contentType, m_name.getString(), m_protocol.getString(), m_micalg.getString(), m_charset,
                   m_boundary.getString(), m_smimeType.getString(), m_type.getString());
}

void MimeMessage2::SetName(const char* name)
{
    SetContentType(m_contentType.getString(), name, m_protocol.getString(), m_micalg.getString(), m_charset,
                   m_boundary.getString(), m_smimeType.getString(), m_type.getString());
}

void MimeMessage2::SetType(const char* type)
{
    StringBuffer t(type ? type : "");
    t.trim2();
    SetContentType(m_contentType.getString(), m_name.getString(), m_protocol.getString(), m_micalg.getString(),
                   m_charset, m_boundary.getString(), m_smimeType.getString(), t.getString());
}

void MimeMessage2::SetCharset(const Charset& charset)
{
    SetContentType(m_contentType.getString(), m_name.getString(), m_protocol.getString(), m_micalg.getString(), charset,
                   m_boundary.getString(), m_smimeType.getString(), m_type.getString());
}

void MimeMessage2::SetTransferEncoding(const char* value)
{
    m_modified = true;
    StringBuffer v(value ? value : "");
    v.trim2();
    m_header.ReplaceField("content-transfer-encoding", v.getString());
    readTransferEncoding();
}

// ---- Body

void MimeMessage2::SetEncodedBody(const char* encoding, const void* bytes, uint32_t n, const Charset& charset)
{
    m_modified = true;
    m_body.clear();
    const char* text = static_cast<const char*>(bytes);
    ContentCoding coding;
    const StringBuffer te(encoding ? encoding : "");
    if (!bytes || n == 0) {
        // nothing to decode
    } else if (te.equalsIgnoreCase("base64")) {
        uint32_t count = 0;
        unsigned char* decoded = coding.decodeBase64(text, n, count);
        if (decoded) m_body.takeOwnership(decoded, count);
    } else if (te.equalsIgnoreCase("quoted-printable")) {
        // A failure to grow stays recorded in the body, and the writer reports it.
        (void)coding.decodeQuotedPrintable(text, n, m_body);
    } else {
        (void)m_body.append(bytes, n);  // likewise
    }
    const int cp = charset.getCodePage();
    if (cp != 0 && cp != kUtf8 && m_body.getSize() > 0) {
        DataBuffer utf8;
        EncodingConvert().convert(cp, kUtf8, m_body.getData(), m_body.getSize(), utf8);
        m_body.takeOver(utf8);
    }
}

void MimeMessage2::SetBodyFromText(const void* text, uint32_t n, const Charset& charset)
{
    SetEncodedBody(nullptr, text, n, charset);
}

void MimeMessage2::SetRawText(const char* text, int32_t n)
{
    m_rawText.clear();
    if (text && n > 0) m_rawText << std::string_view(text, static_cast<size_t>(n));
}

// ---- Sub-parts

void MimeMessage2::AddSubPart(MimeMessage2* entity)
{
    if (!entity) return;
    if (m_parts.append(entity) < 0) delete entity;
    m_modified = true;
}

MimeMessage2* MimeMessage2::GetSubPart(int i) const
{
    if (i < 0 || i >= m_parts.getSize()) return nullptr;
    return static_cast<MimeMessage2*>(m_parts.get(i));
}

bool MimeMessage2::IsMultipart() const
{
    return mimetext::beginsWithNoCase(m_contentType, "multipart");
}

// ---- Output

bool MimeMessage2::WriteMimeText(StringBuffer& out) const
{
    writeEntity(out, true, nullptr);
    return !out.hasFailed();
}

void MimeMessage2::writeEntity(StringBuffer& out, bool top, const BoundaryChain* outer) const
{
    const bool multipart = GetSubPartCount() > 0;
    MimeBodyText text;
    if (!multipart && !text.prepare(m_contentType, m_charset, m_body, false)) {
        out.markFailed(text.failure());
        return;
    }
    StringBuffer boundary;
    const bool held =
        multipart && MimeBoundary::heldUnder(
                         m_boundary, *this, [](const MimeMessage2& m) { return m.GetSubPartCount(); },
                         [](const MimeMessage2& m, int i) -> const MimeMessage2* { return m.GetSubPart(i); });
    const bool renamed = multipart && MimeBoundary::toWrite(m_boundary, outer, held, boundary);
    text.writeHeader(m_header, "content-type", nullptr, m_charset, out, renamed ? boundary.getString() : nullptr);
    if (top && multipart && m_preamble) out << MimeBoundary::kPreamble;
    writeContent(out, text, BoundaryChain{boundary, outer});
}

// chain: this entity's written boundary first.
void MimeMessage2::writeContent(StringBuffer& out, const MimeBodyText& text, const BoundaryChain& chain) const
{
    const int count = GetSubPartCount();
    if (count == 0) {
        (void)BodyEncoder::append(m_transferEncoding, text.data(), text.size(), out);  // marks out
        return;
    }
    // A signed part is only reproduced from the text it was read from; one
    // built in memory is written like any other part.
    if (m_contentType.equalsIgnoreCase("multipart/signed") && count >= 2 && !GetSubPart(0)->m_rawText.isEmpty()) {
        writeSigned(out, chain);
        return;
    }
    const StringBuffer& boundary = chain.boundary;
    for (int i = 0; i < count; ++i) {
        out << "--" << boundary << "\r\n";
        GetSubPart(i)->writeEntity(out, false, &chain);
        out << "\r\n";
    }
    out << "--" << boundary << "--\r\n";
}

void MimeMessage2::writeSigned(StringBuffer& out, const BoundaryChain& chain) const
{
    const StringBuffer& boundary = chain.boundary;
    out << "--" << boundary << "\r\n" << GetSubPart(0)->m_rawText << "\r\n--" << boundary << "\r\n";
    GetSubPart(1)->writeEntity(out, false, &chain);
    out << "\r\n--" << boundary << "--\r\n";
}

}  // namespace hanamail
