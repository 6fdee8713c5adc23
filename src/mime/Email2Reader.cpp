// The email of a parsed MIME tree, and the copies of an email: made by
// writing it and reading it back (the plain copy and the mail-merge copy), or
// node for node.
#include <new>
#include <string>
#include <string_view>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "foundation/StringPair.h"
#include "mime/Email2.h"
#include "mime/MailTextCharset.h"
#include "mime/MimeField.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParamList.h"
#include "mime/MimeText.h"
#include "mime/Rfc822Address.h"
#include "mime/TransferEncodingChoice.h"
#include "mime/UuDecoder.h"

namespace hanamail {

namespace {

// Display names in a rebuilt mail-merge recipient field are cut to this many bytes.
constexpr size_t kMaxMergedName = 399;
// Bytes of display text in one encoded word of such a field.
constexpr size_t kMergedPiece = 40;

std::string_view view(const DataBuffer& b)
{
    return std::string_view(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

std::string text(const StringBuffer& s)
{
    return std::string(s.getString(), static_cast<size_t>(s.getSize()));
}

// The value of a field rewritten where the field stands, so that the header keeps its order.
void setInPlace(MimeHeader& h, const char* name, const std::string& value)
{
    for (int i = 0; i < h.GetFieldCount(); ++i) {
        MimeField* f = h.GetFieldByIndex(i);
        if (f && f->NameEquals(name)) {
            const StringBuffer fieldName(f->name());
            f->SetNameValue(fieldName.getString(), value.c_str());
            return;
        }
    }
    h.ReplaceField(name, value.c_str());
}

// RFC 2231 parameters are written again the way this system writes every
// parameter (quoted text, encoded by the header writer), which all readers read.
void plainParameters(MimeHeader& h, const char* name)
{
    const bool contentType = mimetext::beginsWithNoCase(name, "content-type");
    for (int i = 0; i < h.GetFieldCount(); ++i) {
        MimeField* f = h.GetFieldByIndex(i);
        if (!f || !f->NameEquals(name)) continue;
        const std::string v = text(f->value());
        // The list begins where the reader of the field begins it.
        const size_t headEnd = contentType ? MimeParamList::mediaTypeEnd(v) : v.find(';');
        if (headEnd == std::string::npos || !MimeParamList::hasExtended(std::string_view(v).substr(headEnd + 1)))
            continue;
        const StringBuffer fieldName(f->name());
        f->SetNameValue(fieldName.getString(), MimeParamList::rewritePlain(v, headEnd).c_str());
    }
}

bool isYes(const MimeHeader& h, const char* name)
{
    StringBuffer v;
    if (!h.GetFieldValue(name, v)) return false;
    v.trim2();
    return v.equalsIgnoreCase("yes");
}

bool hasHigh(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// At most max bytes, never ending inside a UTF-8 character.
std::string cutAtCharacter(const std::string& s, size_t max)
{
    if (s.size() <= max) return s;
    size_t k = max;
    while (k > 0 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80) --k;
    return s.substr(0, k);
}

// The display text as encoded words in the charset, one word per piece of at
// most 40 bytes (a piece ends after its last blank when it has one, else at a
// character boundary), joined by CR LF SPACE. Each piece is converted on its
// own, so every word decodes to whole characters; a piece the charset cannot
// hold is written in UTF-8.
std::string encodedPieces(const std::string& display, const Charset& charset)
{
    const int cp = charset.getCodePage();
    const bool bForm = TransferEncodingChoice::isBase64CodePage(cp);
    const char* name = mailtext::mimeName(cp, charset.getName());
    ContentCoding coding;
    std::string r;
    size_t pos = 0;
    while (pos < display.size()) {
        size_t len = display.size() - pos < kMergedPiece ? display.size() - pos : kMergedPiece;
        if (pos + len < display.size()) {
            size_t blank = std::string::npos;
            for (size_t i = pos; i < pos + len; ++i)
                if (mimetext::isBlank(display[i])) blank = i;
            if (blank != std::string::npos) {
                len = blank - pos + 1;
            } else {
                while (len > 0 && (static_cast<unsigned char>(display[pos + len]) & 0xC0) == 0x80) --len;
                if (len == 0) {  // one character longer than a piece
                    len = 1;
                    while (pos + len < display.size() &&
                           (static_cast<unsigned char>(display[pos + len]) & 0xC0) == 0x80)
                        ++len;
                }
            }
        }
        const std::string piece = display.substr(pos, len);
        pos += len;
        DataBuffer converted;
        StringBuffer word;
        const bool held = mailtext::convert(cp, piece.data(), static_cast<uint32_t>(piece.size()), converted);
        const void* bytes = held ? static_cast<const void*>(converted.getData()) : piece.data();
        const uint32_t n = held ? converted.getSize() : static_cast<uint32_t>(piece.size());
        const char* wordCharset = held ? name : "utf-8";
        if (bForm)
            coding.encodeBWord(bytes, n, wordCharset, word);
        else
            coding.encodeQWord(bytes, n, wordCharset, word);
        if (!r.empty()) r += "\r\n ";
        r += text(word);
    }
    return r;
}

bool holdsEncodedWords(const std::string& s)
{
    return s.find("?Q?") != std::string::npos || s.find("?B?") != std::string::npos ||
           s.find("?q?") != std::string::npos || s.find("?b?") != std::string::npos;
}

}  // namespace

// ---- The email of a parsed tree

Email2* Email2::ToEmail(MimeMessage2& entity, bool unwrapSecure, LogBase& log)
{
    (void)unwrapSecure;  // no secure-mail layer to hand signed or encrypted content to
    return toEmail(entity, log, 0, true);
}

Email2* Email2::EmailFromMimeText(const char* text, uint32_t n, LogBase& log)
{
    MimeMessage2 entity;
    entity.ParseMime(text, n, log);
    return ToEmail(entity, false, log);
}

Email2* Email2::toEmail(MimeMessage2& entity, LogBase& log, int depth, bool plainParams)
{
    auto* e = new Email2();
    MimeHeader& h = entity.header();

    StringBuffer from;
    if (h.GetFieldValue("From", from)) {
        if (Rfc822Address* a = Rfc822Address::Parse(from.getString()))
            e->m_from = a;
        else
            e->m_fromText = from.getString();
    }

    // Every field of a recipient kind counts: some mailers write To twice.
    static const struct {
        const char* name;
        Recipients kind;
    } kLists[] = {{"To", Recipients::To}, {"Cc", Recipients::Cc}, {"Bcc", Recipients::Bcc}};
    for (const auto& list : kLists) {
        for (int i = 0; i < h.GetFieldCount(); ++i) {
            const MimeField* f = h.GetFieldByIndex(i);
            if (f && f->NameEquals(list.name))
                Rfc822Address::ParseList(f->value().getString(), e->recipients(list.kind));
        }
    }
    // Blind copies are recipients, never a header line.
    h.RemoveField("Bcc");

    StringBuffer date;
    if (h.GetFieldValue("Date", date)) (void)e->SetDate(date.getString());

    // The fields are UTF-8 already: a copy gives the same fields in the same order.
    e->m_header.CopyFieldsFrom(h);
    e->m_header.setHeaderCodePage(h.headerCodePage());
    if (plainParams) {
        plainParameters(e->m_header, "Content-Type");
        plainParameters(e->m_header, "Content-Disposition");
    }

    e->m_contentType = entity.contentType().getString();
    e->m_disposition = entity.disposition().getString();
    e->m_transferEncoding = entity.transferEncoding().getString();
    e->m_contentId = entity.contentId().getString();
    e->m_name = entity.name().getString();
    e->m_protocol = entity.protocol().getString();
    e->m_micalg = entity.micalg().getString();
    e->m_boundary = entity.boundary().getString();
    e->m_smimeType = entity.smimeType().getString();
    // Kept too: a rebuilt Content-Type of a multipart/related must not lose it.
    e->m_type = entity.type().getString();
    e->m_filename = entity.filename().getString();
    e->m_formatFlowed = entity.formatFlowed();
    if (mimetext::beginsWithNoCase(e->m_contentType, "text") ||
        mimetext::beginsWithNoCase(e->m_contentType, "message")) {
        const char* cs = entity.charset().getName();
        if (!(cs && StringBuffer(cs).equalsIgnoreCase("default"))) e->m_charset = entity.charset();
    }

    // Legacy single-part messages whose only content is a file.
    const bool hasAttach = isYes(h, "X-MS-Has-Attach");
    const std::string_view body = view(entity.body());
    bool uuencoded = false;
    bool bodyTaken = false;
    DataBuffer uuBytes;
    UuDecoder uu;
    if (hasAttach && entity.GetSubPartCount() == 0 && entity.contentType().isEmpty() &&
        body.find("begin 6") != std::string_view::npos && body.find("<<") != std::string_view::npos) {
        uuencoded = uu.UuDecode(body.data(), static_cast<uint32_t>(body.size()), uuBytes);
    } else if (hasAttach && entity.disposition().containsIgnoreCase("attachment") && !entity.filename().isEmpty()) {
        const StringBuffer filename(entity.filename());
        const StringBuffer contentType(entity.contentType());
        e->RemoveHeaderField("Content-Disposition");
        e->RemoveHeaderField("Content-Transfer-Encoding");
        e->SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        StringBuffer added;
        (void)e->AddDataAttachment(filename.getString(), contentType.isEmpty() ? nullptr : contentType.getString(),
                                   entity.body().getData(), entity.body().getSize(), added);
        bodyTaken = true;
    }

    e->m_header.RemoveEmptyFields();
    StringBuffer mailer;
    if (e->m_header.GetFieldValue("X-Mailer", mailer) && (mailer.contains("ActiveX") || mailer.contains("Control")))
        setInPlace(e->m_header, "X-Mailer", kMailerName);

    for (int i = 0; i < entity.GetSubPartCount(); ++i) {
        MimeMessage2* part = entity.GetSubPart(i);
        // An AppleDouble pair stands for its data fork.
        if (part->contentType().equalsIgnoreCase("multipart/appledouble") && part->GetSubPartCount() >= 2)
            part = part->GetSubPart(1);
        if (part->transferEncoding().equalsIgnoreCase("X-UUencode")) {
            UuDecoder partUu;
            DataBuffer decoded;
            const std::string_view encoded = view(part->body());
            if (partUu.UuDecode(encoded.data(), static_cast<uint32_t>(encoded.size()), decoded)) {
                part->SetBodyFromText(decoded.getData(), decoded.getSize(), Charset());
                part->SetTransferEncoding("base64");
            }
        }
        if (depth + 1 > MimeMessage2::kMaxDepth) {
            log.logInfo("MIME parts are nested more than 64 levels deep; the deeper parts are left out");
            break;
        }
        e->AddPart(toEmail(*part, log, depth + 1, plainParams));
    }

    if (uuencoded) {
        // The text around the uuencoded block is the message itself.
        std::string rest(body.substr(0, uu.blockStart()));
        rest.append(body.substr(uu.blockEnd()));
        (void)e->SetBody(rest.data(), static_cast<uint32_t>(rest.size()));
        StringBuffer added;
        (void)e->AddDataAttachment(uu.fileName().getString(), nullptr, uuBytes.getData(), uuBytes.getSize(), added);
    } else if (!bodyTaken) {
        (void)e->SetBody(entity.body().getData(), entity.body().getSize());
    }
    return e;
}

// ---- Copies

Email2* Email2::Clone(LogBase& log) const
{
    StringBuffer mime;
    if (!WriteMimeText(mime, nullptr)) {
        log.logError("The email could not be written as MIME text");
        return nullptr;
    }
    Email2* copy = EmailFromMimeText(mime.getString(), static_cast<uint32_t>(mime.getSize()), log);
    if (copy) copy->copyBccFrom(*this, log);
    return copy;
}

Email2* Email2::Copy() const
{
    auto* copy = new (std::nothrow) Email2();
    if (copy && !copy->copyNodeFrom(*this)) {
        delete copy;
        copy = nullptr;
    }
    return copy;
}

bool Email2::copyNodeFrom(const Email2& other)
{
    m_header.CopyFieldsFrom(other.m_header);
    m_header.setHeaderCodePage(other.m_header.headerCodePage());
    if (other.m_body.hasFailed() || !m_body.append(other.m_body)) return false;

    m_contentType = other.m_contentType;
    m_name = other.m_name;
    m_protocol = other.m_protocol;
    m_micalg = other.m_micalg;
    m_boundary = other.m_boundary;
    m_smimeType = other.m_smimeType;
    m_type = other.m_type;
    m_charset = other.m_charset;
    m_formatFlowed = other.m_formatFlowed;
    m_disposition = other.m_disposition;
    m_filename = other.m_filename;
    m_transferEncoding = other.m_transferEncoding;
    m_contentId = other.m_contentId;

    for (const Recipients kind : {Recipients::To, Recipients::Cc, Recipients::Bcc}) {
        const ExtPtrArray& from = other.recipients(kind);
        for (int i = 0; i < from.getSize(); ++i) {
            Rfc822Address* a = static_cast<const Rfc822Address*>(from.get(i))->Clone();
            if (recipients(kind).append(a) < 0) {
                delete a;
                return false;
            }
        }
    }
    if (other.m_from) m_from = other.m_from->Clone();
    m_fromText = other.m_fromText;
    m_date = other.m_date;
    m_signedSize = other.m_signedSize;
    m_encryptedSize = other.m_encryptedSize;

    for (int i = 0; i < other.GetPartCount(); ++i) {
        auto* part = new (std::nothrow) Email2();
        if (!part || !part->copyNodeFrom(*other.GetPart(i)) || m_parts.append(part) < 0) {
            delete part;
            return false;
        }
    }
    // A field the header could not take would leave the copy short of it.
    return m_header.GetFieldCount() == other.m_header.GetFieldCount();
}

void Email2::copyBccFrom(const Email2& other, LogBase& log)
{
    for (int i = 0; i < other.m_bcc.getSize(); ++i) {
        const auto* a = static_cast<const Rfc822Address*>(other.m_bcc.get(i));
        const char* name = a->name().isEmpty() ? nullptr : a->name().getString();
        if (!AddBcc(name, a->address().getString())) {
            StringBuffer line("Bcc address not copied: ");
            line << a->address();
            log.logInfo(line.getString());
        }
    }
}

void Email2::replaceInNode(const char* find, const char* replacement)
{
    if (mimetext::beginsWithNoCase(m_contentType, "text") && m_body.getSize() > 0) {
        const std::string_view f(find);
        const std::string_view b = view(m_body);
        if (b.find(f) != std::string_view::npos) {
            std::string r;
            size_t pos = 0;
            for (size_t at; (at = b.find(f, pos)) != std::string_view::npos; pos = at + f.size()) {
                r.append(b.substr(pos, at - pos));
                r.append(replacement);
            }
            r.append(b.substr(pos));
            (void)SetBody(r.data(), static_cast<uint32_t>(r.size()));
        }
    }
    for (int i = 0; i < GetPartCount(); ++i) GetPart(i)->replaceInNode(find, replacement);
}

void Email2::rebuildMergedRecipients(Recipients kind)
{
    const ExtPtrArray& list = recipients(kind);
    if (list.getSize() == 0) return;
    const int cp = m_charset.getCodePage();
    const bool encode = cp != 0 && cp != 20127;
    std::string value;
    for (int i = 0; i < list.getSize(); ++i) {
        const auto* a = static_cast<const Rfc822Address*>(list.get(i));
        if (i > 0) value += ",\r\n ";
        StringBuffer full;
        a->GetFullForm(full);
        const std::string name = text(a->name());
        if (!encode || a->HasNoName() || !hasHigh(text(full)) || holdsEncodedWords(name)) {
            value += text(full);
            continue;
        }
        std::string display;
        for (char c : name)
            if (c != '"') display += c;
        value += encodedPieces(cutAtCharacter(display, kMaxMergedName), m_charset);
        value += " <" + text(a->address()) + ">";
    }
    setInPlace(m_header, kind == Recipients::To ? "To" : "Cc", value);
}

Email2* Email2::CloneWithReplacements(const ExtPtrArray& pairs, LogBase& log) const
{
    Email2* copy = Clone(log);
    if (!copy) return nullptr;
    for (int p = 0; p < pairs.getSize(); ++p) {
        const auto* pair = static_cast<const StringPair*>(pairs.get(p));
        if (!pair || !*pair->nameText()) continue;
        const char* find = pair->nameText();
        const char* replacement = pair->valueText();
        copy->replaceInNode(find, replacement);

        StringBuffer subject;
        if (copy->m_header.GetFieldValue("Subject", subject) && subject.replaceAll(find, replacement) > 0)
            setInPlace(copy->m_header, "Subject", text(subject));
        if (copy->m_from && copy->m_from->ReplaceText(find, replacement)) {
            StringBuffer full;
            copy->m_from->GetFullForm(full);
            setInPlace(copy->m_header, "From", text(full));
        }
        for (Recipients kind : {Recipients::To, Recipients::Cc, Recipients::Bcc}) {
            ExtPtrArray& list = copy->recipients(kind);
            for (int i = 0; i < list.getSize(); ++i)
                static_cast<Rfc822Address*>(list.get(i))->ReplaceText(find, replacement);
        }
    }
    copy->rebuildMergedRecipients(Recipients::To);
    copy->rebuildMergedRecipients(Recipients::Cc);
    return copy;
}

}  // namespace hanamail
