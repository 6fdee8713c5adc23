#include "mime/Email2.h"

#include <cstring>
#include <string>
#include <string_view>

#include "charset/CodePages.h"
#include "charset/ContentCoding.h"
#include "html/HtmlHelp.h"
#include "mime/BodyEncoder.h"
#include "mime/CrlfLines.h"
#include "mime/FreshUuid.h"
#include "mime/MailTextCharset.h"
#include "mime/MimeBodyText.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeField.h"
#include "mime/MimeSink.h"
#include "mime/MimeText.h"
#include "mime/Rfc822Address.h"
#include "mime/TransferEncodingChoice.h"
#include "platform/Platform.h"

namespace hanamail {

Email2::Email2() = default;

Email2::~Email2()
{
    m_parts.removeAllObjects();
    m_to.removeAllObjects();
    m_cc.removeAllObjects();
    m_bcc.removeAllObjects();
    delete m_from;
}

bool Email2::SetBody(const void* bytes, uint32_t n)
{
    m_body.clear();
    return !bytes || n == 0 || m_body.append(bytes, n);
}

void Email2::TakeBody(DataBuffer& from)
{
    m_body.takeOver(from);
}

// ---- Entity fields

void Email2::SetContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                            const Charset& charset, const char* boundary, const char* smimeType, const char* type)
{
    StringBuffer value;
    buildContentType(contentType, name, protocol, micalg, charset, boundary, smimeType, type,
                     CharsetRule::TextAndMessage, value);
    m_header.ReplaceField("Content-Type", value.getString());
}

void Email2::SetDisposition(const char* disposition, const char* filename)
{
    m_disposition = disposition ? disposition : "";
    m_filename = filename ? filename : "";
    StringBuffer value(m_disposition);
    if (filename) {
        value << "; filename=";
        mimetext::appendQuoted(value, filename);
    }
    m_header.ReplaceField("Content-Disposition", value.getString());
}

void Email2::SetTransferEncoding(const char* value)
{
    m_transferEncoding = value ? value : "";
    m_transferEncoding.trim2();
    m_header.ReplaceField("Content-Transfer-Encoding", m_transferEncoding.getString());
}

void Email2::SetContentId(const char* value)
{
    m_contentId = value ? value : "";
    m_header.ReplaceField("Content-ID", m_contentId.getString());
}

bool Email2::IsMultipart() const
{
    return mimetext::beginsWithNoCase(m_contentType, "multipart");
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
    if (!recode && (node.m_contentType.isEmpty() || mimetext::beginsWithNoCase(node.m_contentType, "text/")))
        recode = node.m_transferEncoding.equalsIgnoreCase("8bit") ||
                 mimetext::hasHighBytes(node.m_body.getData(), node.m_body.getSize());
    if (recode) node.SetTransferEncoding(TransferEncodingChoice::forCodePage(cp));
    for (int i = 0; i < node.GetPartCount(); ++i) NormaliseTransferEncodings(*node.GetPart(i));
}

bool Email2::WriteMimeText(StringBuffer& out, const char* excludedPrefix) const
{
    writeMimeText(out, excludedPrefix, *this, 0, nullptr, nullptr);
    return !out.hasFailed();
}

namespace {

// Base64 bodies go to a sink in pieces of whole lines (54 bytes a line), so
// no more than one piece is ever held beside the body itself.
constexpr uint32_t kStreamedPiece = 54u * 65536u;

}  // namespace

struct Email2::Stream {
    MimeSink& sink;
    bool refused = false;

    // Hands what out holds to the sink; false (the writer stops) on a failure.
    bool flush(StringBuffer& out)
    {
        if (out.hasFailed() || refused) return false;
        if (out.getSize() > 0 && !sink.write(out.getString(), static_cast<size_t>(out.getSize()))) {
            refused = true;
            return false;
        }
        out.clear();
        return true;
    }
};

bool Email2::WriteMimeText(StringBuffer& out, const char* excludedPrefix, MimeSink& sink) const
{
    out.clear();
    Stream stream{sink};
    writeMimeText(out, excludedPrefix, *this, 0, &stream, nullptr);
    return stream.flush(out);
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

void Email2::writeMimeText(StringBuffer& out, const char* excludedPrefix, const Email2& root, int depth, Stream* stream,
                           const BoundaryChain* outer) const
{
    const Charset cs = headerCharset(root, depth);
    const bool multipart = GetPartCount() > 0;
    MimeBodyText text;
    if (!multipart && !text.prepare(m_contentType, m_charset, m_body, true)) {
        out.markFailed(text.failure());
        return;
    }
    StringBuffer boundary;
    const bool held = multipart && MimeBoundary::heldUnder(
                                       m_boundary, *this, [](const Email2& e) { return e.GetPartCount(); },
                                       [](const Email2& e, int i) -> const Email2* { return e.GetPart(i); });
    const bool renamed = multipart && MimeBoundary::toWrite(m_boundary, outer, held, boundary);
    text.writeHeader(m_header, "Content-Type", excludedPrefix, cs, out, renamed ? boundary.getString() : nullptr);
    if (!multipart && stream && text.size() > kStreamedPiece && m_transferEncoding.equalsIgnoreCase("base64")) {
        for (uint32_t at = 0; at < text.size(); at += kStreamedPiece) {
            const uint32_t n = text.size() - at < kStreamedPiece ? text.size() - at : kStreamedPiece;
            if (!BodyEncoder::append(m_transferEncoding, text.data() + at, n, out)) return;
            // A piece of whole lines ends with an empty line of its own; the next piece goes on instead.
            if (at + n < text.size()) out.shorten(2);
            if (!stream->flush(out)) return;
        }
        return;
    }
    if (!multipart) {
        (void)BodyEncoder::append(m_transferEncoding, text.data(), text.size(), out);  // marks out
        return;
    }
    out << MimeBoundary::kPreamble;
    const BoundaryChain chain{boundary, outer};
    for (int i = 0; i < GetPartCount(); ++i) {
        out << "--" << boundary << "\r\n";
        GetPart(i)->writeMimeText(out, excludedPrefix, root, depth + 1, stream, &chain);
        if (out.hasFailed() || (stream && stream->refused)) return;
        out << "\r\n";
    }
    out << "--" << boundary << "--\r\n";
}

// ---- The email level

namespace {

bool hasHigh(const void* bytes, uint32_t n)
{
    return mimetext::hasHighBytes(static_cast<const unsigned char*>(bytes), n);
}

bool convertsTo(int cp, const void* utf8, uint32_t n)
{
    DataBuffer scratch;
    return mailtext::convert(cp, utf8, n, scratch);
}

bool sameBytes(const DataBuffer& body, const void* bytes, uint32_t n)
{
    return body.getSize() == n && (n == 0 || std::memcmp(body.getData(), bytes, n) == 0);
}

// Host names go into the Message-ID between "@" and ">": only the bytes of a host name may.
std::string messageIdHost()
{
    std::string host;
    for (char c : platform::localHostName()) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        if (ok) host += c;
    }
    return host.empty() ? std::string("unknown") : host;
}

// A Q word stands in a quoted display name: a '"' or '\\' of its text would
// end the quoted string or escape what follows, so only the characters RFC
// 2047 allows in phrases stay literal.
void makePhraseSafe(StringBuffer& word)
{
    const std::string w(word.getString(), static_cast<size_t>(word.getSize()));
    const size_t q = w.find("?Q?");
    if (q == std::string::npos || w.size() < q + 5) return;
    const size_t textEnd = w.size() - 2;  // before the closing "?="
    std::string r = w.substr(0, q + 3);
    for (size_t i = q + 3; i < textEnd; ++i) {
        const unsigned char c = static_cast<unsigned char>(w[i]);
        mimetext::appendPhraseSafeQ(r, c);
    }
    r += w.substr(textEnd);
    word = r.c_str();
}

// The friendly name as one UTF-8 encoded word (B or Q by the charset), so a
// name is always written the same way whatever it held before.
void encodeFriendlyName(Rfc822Address& a)
{
    StringBuffer name;
    a.GetFriendlyName(name);
    const char* s = name.getString();
    uint32_t n = static_cast<uint32_t>(name.getSize());
    if (n >= 3 && static_cast<unsigned char>(s[0]) == 0xEF && static_cast<unsigned char>(s[1]) == 0xBB &&
        static_cast<unsigned char>(s[2]) == 0xBF) {
        s += 3;
        n -= 3;
    }
    StringBuffer word;
    if (n > 0) {
        ContentCoding coding;
        if (ContentCoding::isBWordCharset("utf-8")) {
            coding.encodeBWord(s, n, "utf-8", word);
        } else {
            coding.encodeQWord(s, n, "utf-8", word);
            makePhraseSafe(word);
        }
    }
    a.SetFriendlyName(word.getString());
}

// One address from header text whose encoded words may decode to quotes or commas.
Rfc822Address* parseOne(const char* text)
{
    StringBuffer t(text ? text : "");
    Rfc822Address::decodeEncodedWordsEscaped(t);
    Rfc822Address* a = Rfc822Address::Parse(t.getString());
    if (a) encodeFriendlyName(*a);
    return a;
}

}  // namespace

Email2* Email2::NewEmail()
{
    auto* e = new Email2();
    MimeHeader& h = e->m_header;
    h.ReplaceField("MIME-Version", "1.0");
    StringBuffer now;
    if (DateParser::FormatNow(now)) (void)e->SetDate(now.getString());
    h.ReplaceField("X-Mailer", kMailerName);
    e->NewMessageId();
    e->SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    e->SetTransferEncoding("7bit");
    // Set again so that it follows the entity fields.
    h.ReplaceField("X-Mailer", kMailerName);
    h.ReplaceField("X-Priority", "3 (Normal)");
    return e;
}

Email2* Email2::NewPartNode()
{
    auto* e = new Email2();
    e->SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    e->SetTransferEncoding("7bit");
    return e;
}

void Email2::StripMessageFields()
{
    for (const char* f : {"Date", "X-Mailer", "X-Priority", "MIME-Version", "Message-ID"}) m_header.RemoveField(f);
}

void Email2::rebuildContentType(const Charset& charset)
{
    // A multipart records the charset (for its header values) without naming it.
    m_charset = charset;
    SetContentType(m_contentType.getString(), m_name.getString(), m_protocol.getString(), m_micalg.getString(), charset,
                   m_boundary.getString(), m_smimeType.getString(), m_type.getString());
}

// ---- Header fields

bool Email2::isFieldName(const char* name)
{
    if (!name || !*name) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
        if (*p <= 0x20 || *p >= 0x7F || *p == ':') return false;
    return true;
}

bool Email2::AddHeaderField(const char* name, const char* value)
{
    if (!name || !*name) return false;
    if (!isFieldName(name)) return false;
    StringBuffer n(name);
    if (n.equalsIgnoreCase("Content-Transfer-Encoding")) {
        SetTransferEncoding(value);
    } else if (n.equalsIgnoreCase("Content-ID")) {
        SetContentId(value);
    } else if (n.equalsIgnoreCase("Date")) {
        return SetDate(value);
    } else if (n.equalsIgnoreCase("From")) {
        return SetFrom(value);
    } else if (n.equalsIgnoreCase("Reply-To")) {
        return SetReplyTo(value);
    } else if (n.equalsIgnoreCase("Bcc")) {
        // Blind copies are recipients, never a header line.
        return addBccField(value);
    } else {
        // Sender, Resent-To and the like name mailboxes that readers and
        // servers act on: each must be an ASCII addr-spec, as for AddTo.
        if (MimeField::isAddressFieldName(name) && !isEmptyGroup(value) && !allUsableAddresses(value)) return false;
        m_header.ReplaceField(name, value ? value : "");
    }
    return true;
}

bool Email2::addBccField(const char* value)
{
    // Every address must be usable, or none is taken: a list half added would
    // pass for sent to all.
    if (!allUsableAddresses(value)) return false;
    addRecipientList(Recipients::Bcc, value);
    return true;
}

bool Email2::isEmptyGroup(const char* value)
{
    // "undisclosed-recipients:;": a group that names nobody.
    if (!value || Rfc822Address::hasControlBytes(value)) return false;
    std::string_view v(value);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    if (v.empty() || v.back() != ';') return false;
    v.remove_suffix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return !v.empty() && v.back() == ':' && v.find_first_of("@<>,;") == std::string_view::npos;
}

bool Email2::allUsableAddresses(const char* value)
{
    if (!value || Rfc822Address::hasControlBytes(value)) return false;
    // What stands in angle brackets is written as it is: it must be the address.
    bool quoted = false;
    for (const char* p = value; *p; ++p) {
        if (*p == '\\' && p[1]) {
            ++p;
        } else if (*p == '"') {
            quoted = !quoted;
        } else if (*p == '<' && !quoted) {
            const char* gt = std::strchr(p + 1, '>');
            if (!gt || !Rfc822Address::isAsciiAddrSpec(p + 1, static_cast<size_t>(gt - p - 1))) return false;
            p = gt;
        }
    }
    StringBuffer t(value);
    if (t.containsIgnoreCase("?Q?") || t.containsIgnoreCase("?B?")) Rfc822Address::decodeEncodedWordsEscaped(t);
    ExtPtrArray found;
    Rfc822Address::ParseList(t.getString(), found);
    bool ok = found.getSize() > 0;
    for (int i = 0; ok && i < found.getSize(); ++i) {
        const StringBuffer& a = static_cast<const Rfc822Address*>(found.get(i))->address();
        ok = Rfc822Address::isAsciiAddrSpec(a.getString(), static_cast<size_t>(a.getSize()));
    }
    found.removeAllObjects();
    return ok;
}

void Email2::RemoveHeaderField(const char* name)
{
    if (!name || !*name) return;
    m_header.RemoveField(name);
    StringBuffer n(name);
    if (n.equalsIgnoreCase("to")) {
        clearRecipients(Recipients::To);
    } else if (n.equalsIgnoreCase("cc")) {
        clearRecipients(Recipients::Cc);
    } else if (n.equalsIgnoreCase("content-type")) {
        clearContentType();
    } else if (n.equalsIgnoreCase("Content-Disposition")) {
        m_disposition.clear();
        m_filename.clear();
    } else if (n.equalsIgnoreCase("Content-Transfer-Encoding")) {
        m_transferEncoding.clear();
    } else if (n.equalsIgnoreCase("Content-ID")) {
        m_contentId.clear();
    } else if (n.equalsIgnoreCase("From")) {
        delete m_from;
        m_from = nullptr;
        m_fromText.clear();
    }
}

bool Email2::GetHeaderField(const char* name, StringBuffer& out) const
{
    return name && m_header.GetFieldValue(name, out);
}

// ---- Sender

bool Email2::SetFrom(const char* text)
{
    Rfc822Address* a = parseSender(text);
    if (!a) return false;
    delete m_from;
    m_from = a;
    m_fromText.clear();
    StringBuffer full;
    a->GetFullForm(full);
    m_header.ReplaceField("From", full.getString());
    if (!m_header.HasField("return-path")) m_header.ReplaceField("return-path", a->address().getString());
    return true;
}

bool Email2::SetReplyTo(const char* text)
{
    Rfc822Address* a = parseSender(text);
    if (!a) return false;
    StringBuffer full;
    a->GetFullForm(full);
    delete a;
    m_header.ReplaceField("Reply-To", full.getString());
    return true;
}

Rfc822Address* Email2::parseSender(const char* text)
{
    if (!text || Rfc822Address::hasControlBytes(text)) return nullptr;
    // Exactly one mailbox: the parser takes the last address of whatever it
    // is given, so a second one (a list, or two addresses side by side) would
    // silently win. An "@" of a quoted display name is no mailbox.
    int ats = 0;
    bool quoted = false;
    for (const char* p = text; *p; ++p) {
        if (*p == '\\' && p[1]) {
            ++p;
        } else if (*p == '"') {
            quoted = !quoted;
        } else if (*p == '@' && !quoted) {
            ++ats;
        }
    }
    if (ats != 1) return nullptr;
    Rfc822Address* a = parseOne(text);
    if (a && !Rfc822Address::isAsciiAddrSpec(a->address().getString(), static_cast<size_t>(a->address().getSize()))) {
        delete a;
        a = nullptr;
    }
    return a;
}

void Email2::GetReturnPath(StringBuffer& out) const
{
    StringBuffer v;
    if (!m_header.GetFieldValue("return-path", v) && m_from) m_from->GetAddress(v);
    v.removeChar('<');
    v.removeChar('>');
    out << v;
}

// ---- Recipients

ExtPtrArray& Email2::recipients(Recipients kind)
{
    return kind == Recipients::To ? m_to : (kind == Recipients::Cc ? m_cc : m_bcc);
}

const ExtPtrArray& Email2::recipients(Recipients kind) const
{
    return kind == Recipients::To ? m_to : (kind == Recipients::Cc ? m_cc : m_bcc);
}

void Email2::rebuildRecipientField(Recipients kind)
{
    if (kind == Recipients::Bcc) return;
    const ExtPtrArray& list = recipients(kind);
    StringBuffer value;
    for (int i = 0; i < list.getSize(); ++i) {
        if (i > 0) value << ", ";
        static_cast<const Rfc822Address*>(list.get(i))->GetFullForm(value);
    }
    m_header.ReplaceField(kind == Recipients::To ? "To" : "Cc", value.getString());
}

bool Email2::addRecipient(Recipients kind, const char* name, const char* address)
{
    // Control bytes would end up in RCPT TO and in the header line.
    if (!address || !*address || Rfc822Address::hasControlBytes(address)) return false;
    if (!isUsableAddress(address)) return false;
    auto* a = new Rfc822Address(name, address);
    // "<>" or blanks leave no address to send to.
    if (a->address().isEmpty() || recipients(kind).append(a) < 0) {
        delete a;
        return false;
    }
    // Adding to a field that is already last gives what rebuilding it gives,
    // without the cost of every earlier address each time.
    if (kind != Recipients::Bcc && recipients(kind).getSize() > 1) {
        StringBuffer more(", ");
        a->GetFullForm(more);
        if (!more.hasFailed() &&
            m_header.AppendToLastField(kind == Recipients::To ? "To" : "Cc", more.getString(), more.getSize()))
            return true;
    }
    rebuildRecipientField(kind);
    return true;
}

bool Email2::isUsableAddress(const char* address)
{
    // What Create keeps of the argument: the text in angle brackets when there
    // are any. Only an ASCII addr-spec can stand in RCPT TO and a header line
    // as it is; anything else would be changed or encoded where the mailbox
    // must be.
    std::string_view a(address);
    const size_t lt = a.find('<');
    if (lt != std::string_view::npos) {
        a.remove_prefix(lt + 1);
        const size_t gt = a.rfind('>');
        if (gt != std::string_view::npos) a = a.substr(0, gt);
    }
    while (!a.empty() && (a.front() == ' ' || a.front() == '\t')) a.remove_prefix(1);
    while (!a.empty() && (a.back() == ' ' || a.back() == '\t')) a.remove_suffix(1);
    return Rfc822Address::isAsciiAddrSpec(a.data(), a.size());
}

int Email2::addRecipientList(Recipients kind, const char* text)
{
    if (!text) return 0;
    StringBuffer t(text);
    if (t.containsIgnoreCase("?Q?") || t.containsIgnoreCase("?B?")) Rfc822Address::decodeEncodedWordsEscaped(t);
    ExtPtrArray& list = recipients(kind);
    const int before = list.getSize();
    const int parsed = Rfc822Address::ParseList(t.getString(), list);
    // A mailbox that is not an ASCII addr-spec cannot stand in RCPT TO or the
    // header as it is; it is left out rather than changed.
    int dropped = 0;
    for (int i = list.getSize() - 1; i >= before; --i) {
        const StringBuffer& a = static_cast<const Rfc822Address*>(list.get(i))->address();
        if (!Rfc822Address::isAsciiAddrSpec(a.getString(), static_cast<size_t>(a.getSize()))) {
            delete list.removeAt(i);
            ++dropped;
        }
    }
    rebuildRecipientField(kind);
    return parsed - dropped;
}

void Email2::clearRecipients(Recipients kind)
{
    recipients(kind).removeAllObjects();
    if (kind == Recipients::To) m_header.RemoveField("To");
    if (kind == Recipients::Cc) m_header.RemoveField("Cc");
}

int Email2::GetRecipientCount(Recipients kind) const
{
    return recipients(kind).getSize();
}

const Rfc822Address* Email2::GetRecipient(Recipients kind, int i) const
{
    const ExtPtrArray& list = recipients(kind);
    if (i < 0 || i >= list.getSize()) return nullptr;
    return static_cast<const Rfc822Address*>(list.get(i));
}

bool Email2::GetRecipientFullForm(Recipients kind, int i, StringBuffer& out) const
{
    const Rfc822Address* a = GetRecipient(kind, i);
    if (a) a->GetFullForm(out);
    return a != nullptr;
}

bool Email2::GetRecipientAddress(Recipients kind, int i, StringBuffer& out) const
{
    const Rfc822Address* a = GetRecipient(kind, i);
    if (a) a->GetAddress(out);
    return a != nullptr;
}

bool Email2::GetRecipientName(Recipients kind, int i, StringBuffer& out) const
{
    const Rfc822Address* a = GetRecipient(kind, i);
    if (a) a->GetFriendlyName(out);
    return a != nullptr;
}

// ---- Date and identification

bool Email2::SetDate(const char* text)
{
    // A Date that readers cannot read would stand for a time nobody gave.
    if (!text || Rfc822Address::hasControlBytes(text) || !DateParser::ParseDate(text, m_date)) return false;
    m_header.ReplaceField("Date", text);
    return true;
}

void Email2::NewMessageId()
{
    const std::string id = "<TEMBRIX-MID-" + FreshUuid::text() + "@" + messageIdHost() + ">";
    m_header.ReplaceField("Message-ID", id.c_str());
}

// ---- Bodies

Email2* Email2::bodyLeafFor(Email2* node)
{
    for (int i = 0; i < node->GetPartCount(); ++i) {
        Email2* p = node->GetPart(i);
        if (p->GetPartCount() == 0 && !p->IsAttachmentLike()) return p;
    }
    return nullptr;
}

void Email2::SetTextBody(const void* utf8, uint32_t n, bool isHtml)
{
    if (!utf8) n = 0;
    // Text lines end in CR LF, whatever system the text was written on: a bare
    // LF would leave as =0A in quoted-printable or as a bare line end.
    DataBuffer crlf;
    if (CrlfLines::hasBareLineEnd(static_cast<const unsigned char*>(utf8), n)) {
        if (CrlfLines::append(static_cast<const unsigned char*>(utf8), n, crlf)) {
            utf8 = crlf.getData();
            n = crlf.getSize();
        }
    }
    // Text that could not be made whole must not pass for the body.
    auto setBody = [&crlf](Email2& leaf, const void* bytes, uint32_t count) {
        (void)leaf.SetBody(bytes, count);  // a failure stays recorded in the body
        if (crlf.hasFailed()) leaf.m_body.markFailed(crlf.failure());
    };
    const bool high = hasHigh(utf8, n);
    Email2* node = this;
    const char* encoding = "quoted-printable";
    for (;;) {
        encoding = "quoted-printable";
        if (node->m_charset.getCodePage() == 0 && high) {
            Charset chosen;
            const int hcp = node->m_header.headerCodePage();
            if (hcp != 0 && convertsTo(hcp, utf8, n))
                chosen.setByCodePage(hcp);
            else if (convertsTo(28591, utf8, n))
                chosen.setByCodePage(28591);
            else if (convertsTo(28592, utf8, n))
                chosen.setByCodePage(28592);
            else
                chosen.setByCodePage(kUtf8);
            node->rebuildContentType(chosen);
        }
        if (TransferEncodingChoice::isBase64CodePage(node->m_charset.getCodePage())) encoding = "base64";
        // An attached file never receives the text.
        Email2* first = node->GetPart(0);
        if ((node->IsMultipartRelated() || node->IsMultipartMixed()) && first && !first->IsAttachmentLike())
            node = first;
        else
            break;
    }

    if (node->IsMultipartAlternative()) {
        if (isHtml)
            AddAlternativeBody(NewHtmlPart(utf8, n, node->m_charset));
        else
            AddAlternativeBody(NewPlainTextPart(utf8, n));
        return;
    }
    if (node->GetPartCount() == 0) {
        node->SetTransferEncoding(encoding);
        setBody(*node, utf8, n);
        return;
    }
    if (Email2* leaf = bodyLeafFor(node)) {
        setBody(*leaf, utf8, n);
        // 8-bit text must not go out under a 7bit (or no) transfer encoding.
        if (high && !leaf->m_transferEncoding.equalsIgnoreCase("quoted-printable") &&
            !leaf->m_transferEncoding.equalsIgnoreCase("base64"))
            leaf->SetTransferEncoding(encoding);
        return;
    }
    Email2* part = NewPartNode();
    part->SetTextBody(utf8, n, isHtml);
    part->SetTransferEncoding(encoding);
    node->InsertPart(0, part);
}

void Email2::SetHtmlBody(const void* utf8Html, uint32_t n)
{
    StringBuffer html(static_cast<const char*>(utf8Html ? utf8Html : ""), utf8Html ? static_cast<int32_t>(n) : 0, 0);
    StringBuffer declared;
    const bool declare = !HtmlHelp::getMetaCharset(html, declared);
    if (declare) {
        const char* name = m_charset.getName();
        declared = (name && *name) ? name : "utf-8";
        HtmlHelp::addMetaCharset(html, declared.getString());
    }
    // The lines end as SetTextBody stores them, so that the leaf holding this
    // HTML is found by its bytes below.
    const auto* bytes = reinterpret_cast<const unsigned char*>(html.getString());
    if (CrlfLines::hasBareLineEnd(bytes, static_cast<uint32_t>(html.getSize()))) {
        DataBuffer crlf;
        // A failed copy leaves html as it was; SetTextBody then fails the same way and marks the body.
        if (CrlfLines::append(bytes, static_cast<uint32_t>(html.getSize()), crlf)) {
            html.clear();
            html << std::string_view(reinterpret_cast<const char*>(crlf.getData()), crlf.getSize());
        }
    }
    const uint32_t size = static_cast<uint32_t>(html.getSize());
    SetTextBody(html.getString(), size, true);

    Email2* first = GetPart(0);
    if (IsMultipartRelated() && first && !first->IsMultipart() &&
        mimetext::beginsWithNoCase(first->m_contentType, "text")) {
        SetContentType(m_contentType.getString(), m_name.getString(), m_protocol.getString(), m_micalg.getString(),
                       m_charset, m_boundary.getString(), m_smimeType.getString(), "text/html");
        // A multipart's own Content-Transfer-Encoding stays 7bit: nothing is set on it.
    }

    Email2* node = this;
    while (node && node->IsMultipart() && node->GetPartCount() > 0) {
        Email2* next = nullptr;
        for (int i = 0; i < node->GetPartCount() && !next; ++i)
            if (!node->GetPart(i)->IsAttachmentLike()) next = node->GetPart(i);
        node = next;
    }
    // Only the leaf that holds exactly this HTML becomes text/html.
    if (node && node->GetPartCount() == 0 && sameBytes(node->m_body, html.getString(), size)) {
        node->SetContentType("text/html", node->m_name.getString(), node->m_protocol.getString(),
                             node->m_micalg.getString(), node->m_charset, node->m_boundary.getString(),
                             node->m_smimeType.getString(), node->m_type.getString());
        node->SetTransferEncoding(TransferEncodingChoice::forCodePage(m_charset.getCodePage()));
    }

    // The declaration made above names the charset the text then chose.
    Email2* part = FindHtmlBody();
    const char* chosen = part ? part->m_charset.getName() : nullptr;
    if (declare && chosen && *chosen && !declared.equalsIgnoreCase(chosen)) {
        StringBuffer text(reinterpret_cast<const char*>(part->m_body.getData()),
                          static_cast<int32_t>(part->m_body.getSize()), 0);
        HtmlHelp::removeMetaCharset(text);
        HtmlHelp::addMetaCharset(text, chosen);
        part->SetBody(text.getString(), static_cast<uint32_t>(text.getSize()));
    }
}

Email2* Email2::NewPlainTextPart(const void* utf8, uint32_t n)
{
    Email2* part = NewPartNode();
    part->SetTextBody(utf8, n, false);
    part->StripMessageFields();
    part->SetFormatFlowed(true);
    // The charset chosen for 8-bit text stays: such text is never sent unlabelled.
    const Charset kept = part->m_charset;
    part->SetContentType("text/plain", nullptr, nullptr, nullptr, kept, nullptr, nullptr, nullptr);
    return part;
}

Email2* Email2::NewHtmlPart(const void* utf8Html, uint32_t n, const Charset& charset)
{
    Email2* part = NewPartNode();
    part->StripMessageFields();
    part->SetTextBody(utf8Html, n, true);
    part->SetContentType("text/html", nullptr, nullptr, nullptr, charset, nullptr, nullptr, nullptr);
    part->SetTransferEncoding(TransferEncodingChoice::forCodePage(charset.getCodePage()));
    return part;
}

Email2* Email2::ConvertToAlternative()
{
    Email2* node = this;
    if ((IsMultipartRelated() || IsMultipartMixed()) && GetPartCount() > 0) {
        node = nullptr;
        for (int i = 0; i < GetPartCount() && !node; ++i)
            if (!GetPart(i)->IsAttachmentLike()) node = GetPart(i);
        if (!node) {
            // Only files: the text gets a part of its own in front of them.
            node = NewPartNode();
            InsertPart(0, node);
        }
    }

    Email2* moved = new Email2();
    moved->m_formatFlowed = node->m_formatFlowed;
    moved->SetContentType(node->m_contentType.isEmpty() ? "text/plain" : node->m_contentType.getString(),
                          node->m_name.getString(), node->m_protocol.getString(), node->m_micalg.getString(),
                          node->m_charset, node->m_boundary.getString(), node->m_smimeType.getString(),
                          node->m_type.getString());
    moved->TakeBody(node->m_body);
    if (!node->m_transferEncoding.isEmpty()) moved->SetTransferEncoding(node->m_transferEncoding.getString());
    // A multipart's own parts go with it, or they would become alternatives of their own.
    while (node->GetPartCount() > 0) moved->AddPart(node->DetachPart(0));
    node->AddPart(moved);

    StringBuffer boundary;
    MimeBoundary::NewBoundary(boundary);
    boundary << "_.ALT";
    node->SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), boundary.getString(), nullptr,
                         nullptr);
    node->m_header.RemoveField("Content-Transfer-Encoding");
    node->m_transferEncoding.clear();
    return node;
}

void Email2::AddAlternativeBody(Email2* part)
{
    if (!part) return;
    Email2* target = this;
    if (IsMultipartMixed()) {
        target = nullptr;
        for (int i = 0; i < GetPartCount() && !target; ++i)
            if (!GetPart(i)->IsAttachmentLike()) target = GetPart(i);
        if (!target) {
            // Nothing but files: the body goes in front of them.
            InsertPart(0, part);
            return;
        }
    }
    if (target->IsMultipartRelated()) {
        target->SetContentType(target->m_contentType.getString(), target->m_name.getString(),
                               target->m_protocol.getString(), target->m_micalg.getString(), target->m_charset,
                               target->m_boundary.getString(), target->m_smimeType.getString(),
                               "multipart/alternative");
        if (target->GetPartCount() > 0) target = target->GetPart(0);
    }
    if (!target->IsMultipartAlternative()) target = target->ConvertToAlternative();

    for (int i = 0; i < target->GetPartCount(); ++i) {
        Email2* existing = target->GetPart(i);
        if (!existing->m_contentType.equalsIgnoreCase(part->m_contentType.getString())) continue;
        Email2* leaf = part;
        while (leaf && leaf->GetPartCount() > 0) leaf = bodyLeafFor(leaf);
        if (leaf) existing->SetTextBody(leaf->m_body.getData(), leaf->m_body.getSize(), false);
        existing->SetFormatFlowed(true);
        existing->rebuildContentType(existing->m_charset);
        delete part;
        return;
    }
    if (mimetext::beginsWithNoCase(part->m_contentType, "text/plain"))
        target->InsertPart(0, part);
    else
        target->AddPart(part);
}

int Email2::GetPlainTextAlternativeIndex() const
{
    const Email2* node = this;
    while (!node->IsMultipartAlternative() && node->GetPartCount() > 0) node = node->GetPart(0);
    if (!node->IsMultipartAlternative()) return -1;
    for (int i = 0; i < node->GetPartCount(); ++i) {
        const Email2* p = node->GetPart(i);
        if (!p->IsMultipart() && !p->m_disposition.equalsIgnoreCase("attachment") &&
            p->m_contentType.equalsIgnoreCase("text/plain"))
            return i;
    }
    return -1;
}

void Email2::GetBodyText(StringBuffer& out) const
{
    const Email2* node = this;
    while (node->IsMultipart() && node->GetPartCount() > 0) {
        const Email2* next = nullptr;
        for (int i = 0; i < node->GetPartCount() && !next; ++i)
            if (!node->GetPart(i)->IsAttachmentLike()) next = node->GetPart(i);
        if (!next) return;  // only files
        node = next;
    }
    if (node->m_body.getSize() > 0)
        out << std::string_view(reinterpret_cast<const char*>(node->m_body.getData()), node->m_body.getSize());
    if (node->m_body.hasFailed()) out.markFailed(node->m_body.failure());
}

// ---- Charset

void Email2::SetCharset(const Charset& charset)
{
    const int cp = charset.getCodePage();
    const char* encoding = TransferEncodingChoice::forCodePage(cp);
    Email2* html = FindHtmlBody();
    if (html && cp != 0) {
        if (html->m_charset.getCodePage() != cp && charset.getName() && *charset.getName()) {
            StringBuffer text(reinterpret_cast<const char*>(html->m_body.getData()),
                              static_cast<int32_t>(html->m_body.getSize()), 0);
            HtmlHelp::removeMetaCharset(text);
            HtmlHelp::addMetaCharset(text, charset.getName());
            html->SetBody(text.getString(), static_cast<uint32_t>(text.getSize()));
        }
        html->rebuildContentType(charset);
        // The HTML part is what is written in the new charset; a multipart
        // root keeps no transfer encoding of its own.
        if (!html->IsMultipart()) html->SetTransferEncoding(encoding);
    }
    Email2* plain = FindPlainTextBody(false);
    if (plain && cp != 0) {
        plain->rebuildContentType(charset);
    }
    rebuildContentType(charset);
}

void Email2::GetCharset(StringBuffer& out)
{
    if (m_charset.getCodePage() == 0) {
        const Email2* html = FindHtmlBody();
        const Email2* plain = FindPlainTextBody(true);
        if (html && html->m_charset.getCodePage() != 0)
            rebuildContentType(Charset(html->m_charset));
        else if (plain && plain->m_charset.getCodePage() != 0)
            rebuildContentType(Charset(plain->m_charset));
    }
    out << m_charset.getName();
}

// ---- Output

int Email2::EstimateSize() const
{
    int64_t size = static_cast<int64_t>(m_body.getSize()) + m_header.EstimateSize();
    for (int i = 0; i < GetPartCount(); ++i) size += GetPart(i)->EstimateSize();
    if (m_signedSize || m_encryptedSize) size = (size + 2000) * 100 / 80;
    return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
}

// ---- Addressing copies

void Email2::CopyAddressingFrom(const Email2& other)
{
    m_to.removeAllObjects();
    m_cc.removeAllObjects();
    m_bcc.removeAllObjects();
    delete m_from;
    m_from = nullptr;
    m_header.MergeFieldsFrom(other.m_header);
    if (other.m_from) {
        StringBuffer full;
        other.m_from->GetFullForm(full);
        m_from = Rfc822Address::Parse(full.getString());
    }
    StringBuffer full;
    for (Recipients kind : {Recipients::To, Recipients::Cc, Recipients::Bcc}) {
        for (int i = 0; i < other.GetRecipientCount(kind); ++i) {
            full.clear();
            other.GetRecipientFullForm(kind, i, full);
            addRecipientList(kind, full.getString());
        }
    }
    m_date = other.m_date;
}

}  // namespace hanamail
