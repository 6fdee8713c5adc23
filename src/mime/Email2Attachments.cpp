// Attachments of an email: adding them from files and bytes, finding and
// removing them, and reshaping the tree to multipart/mixed to hold them.
#include <cstring>
#include <vector>

#include "charset/ContentCoding.h"
#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "mime/ContentTypeTable.h"
#include "mime/CrlfLines.h"
#include "mime/Email2.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeField.h"
#include "mime/MimeText.h"

namespace hanamail {

namespace {

// The related part made by ConvertRelatedToMixed also drops its transfer
// encoding: a multipart takes none.
const char* const kRelatedPartFields[] = {"Content-Transfer-Encoding", nullptr};

// A new part without the fields that belong to the message as a whole.
Email2* newPart(const char* const* alsoStrip)
{
    Email2* part = Email2::NewPartNode();
    part->StripMessageFields();
    for (const char* const* name = alsoStrip; name && *name; ++name) part->header().RemoveField(*name);
    // Keep the cached field in step with a removed header field.
    if (!part->header().HasField("Content-Transfer-Encoding")) part->SetTransferEncoding("");
    return part;
}

void newBoundary(const char* suffix, StringBuffer& out)
{
    MimeBoundary::NewBoundary(out);
    out << suffix;
}

// The name after the last folder separator. Either separator counts, so a
// path that mixes them still gives no folder in the name.
const char* fileNameOf(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

bool isStrictAttachment(const Email2& p)
{
    return !p.contentType().equalsIgnoreCase("message/rfc822") && p.disposition().equalsIgnoreCase("attachment");
}

// Whether the sub-part p of node is an attachment of node.
bool isAttachmentOf(const Email2& node, const Email2& p)
{
    if (node.IsMultipartMixed()) return p.IsAttachmentLike();
    if (node.IsMultipartRelated()) return isStrictAttachment(p);
    return false;
}

// Enumeration and removal walk the same nodes, so whatever is counted (and
// zipped) is exactly what is removed.
bool searchedForAttachments(const Email2& p)
{
    return p.IsMultipartMixed() || p.IsMultipartRelated();
}

void collectAttachments(const Email2& node, std::vector<Email2*>& out)
{
    for (int i = 0; i < node.GetPartCount(); ++i) {
        Email2* p = node.GetPart(i);
        if (isAttachmentOf(node, *p))
            out.push_back(p);
        else if (searchedForAttachments(*p))
            collectAttachments(*p, out);
    }
}

void removeAttachmentsOf(Email2& node)
{
    for (int i = node.GetPartCount() - 1; i >= 0; --i)
        if (isAttachmentOf(node, *node.GetPart(i))) node.RemovePart(i);
    for (int i = 0; i < node.GetPartCount(); ++i)
        if (searchedForAttachments(*node.GetPart(i))) removeAttachmentsOf(*node.GetPart(i));
}

bool isSingleAttachment(const Email2& root)
{
    return !root.IsMultipart() && root.IsAttachmentLike();
}

}  // namespace

void Email2::ConvertToMixed()
{
    Email2* part = newPart(nullptr);
    part->SetFormatFlowed(m_formatFlowed);
    part->SetContentType(m_contentType.getString(), m_name.getString(), m_protocol.getString(), m_micalg.getString(),
                         m_charset, m_boundary.getString(), m_smimeType.getString(), m_type.getString());
    part->SetTransferEncoding(m_transferEncoding.getString());
    // A disposition describes the content, not the mixed message around it.
    if (!m_disposition.isEmpty()) {
        part->SetDisposition(m_disposition.getString(), m_filename.isEmpty() ? nullptr : m_filename.getString());
        SetDisposition("", nullptr);
    }
    if (part->IsMultipart()) {
        while (GetPartCount() > 0) part->AddPart(DetachPart(0));
    } else {
        part->TakeBody(m_body);
    }
    InsertPart(0, part);

    StringBuffer boundary;
    newBoundary("_.MIX", boundary);
    SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), boundary.getString(), nullptr, nullptr);
    SetTransferEncoding("");
}

void Email2::ConvertRelatedToMixed()
{
    Email2* related = newPart(kRelatedPartFields);
    StringBuffer boundary;
    newBoundary("_.REL", boundary);
    // The type parameter is required on multipart/related: it stays with the parts it describes.
    related->SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), boundary.getString(), nullptr,
                            m_type.getString());
    while (GetPartCount() > 0) related->AddPart(DetachPart(0));

    boundary.clear();
    newBoundary("_.MIX", boundary);
    SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), boundary.getString(), nullptr, nullptr);
    // A multipart entity takes no transfer coding of its own.
    SetTransferEncoding("");
    StringBuffer ignored;
    AddAttachmentPart(related, ignored);
}

bool Email2::AddAttachmentPart(Email2* part, StringBuffer& outContentType)
{
    if (!part) return false;
    if (!IsMultipartMixed()) {
        if (IsMultipartRelated())
            ConvertRelatedToMixed();
        else
            ConvertToMixed();
    }
    outContentType = part->contentType().getString();
    AddPart(part);
    return true;
}

bool Email2::AddFileAttachment(const char* path, const char* contentType, StringBuffer& outContentType, LogBase& log)
{
    if (!path || !*path) return false;
    DataBuffer bytes;
    if (!FileSys::loadFile(path, bytes, &log)) return false;
    // The file's bytes become the part's body as they are: no second copy.
    return addAttachment(path, contentType, bytes, outContentType);
}

bool Email2::AddDataAttachment(const char* filename, const char* contentType, const void* bytes, uint32_t n,
                               StringBuffer& outContentType)
{
    DataBuffer copy;
    if (bytes && n && !copy.append(bytes, n)) return false;
    return addAttachment(filename, contentType, copy, outContentType);
}

bool Email2::AddTextAttachment(const char* filename, const char* contentType, const void* utf8, uint32_t n,
                               StringBuffer& outContentType)
{
    DataBuffer copy;
    if (utf8 && n && !copy.append(utf8, n)) return false;
    return addAttachment(filename, contentType, copy, outContentType, true);
}

bool Email2::addAttachment(const char* filename, const char* contentType, DataBuffer& bytes,
                           StringBuffer& outContentType, bool textLines)
{
    // A name that is only folders gets the default name too.
    const char* name = filename ? fileNameOf(filename) : "";
    if (!*name) name = "attach.dat";
    // A file's name may be any bytes; the header carries it as UTF-8 text.
    DataBuffer wellFormed;
    const auto* nameBytes = reinterpret_cast<const unsigned char*>(name);
    const auto nameLength = static_cast<uint32_t>(std::strlen(name));
    if (!utf8check::isValid(nameBytes, nameLength)) {
        std::vector<uint32_t> ignored;
        (void)utf8check::appendRepaired(nameBytes, nameLength, wellFormed, ignored, 0);
        if (!wellFormed.appendByte(0)) return false;
        name = reinterpret_cast<const char*>(wellFormed.getData());
    }

    StringBuffer type;
    if (contentType && *contentType) {
        type = contentType;
        type.trim2();
    } else if (const char* dot = std::strrchr(name, '.')) {
        StringBuffer ext(dot + 1);
        ext.toLowerCase();
        ContentTypeForExtension(ext.getString(), type);
    }
    if (type.isEmpty()) type = "application/octet-stream";
    const bool isText = mimetext::beginsWithNoCase(type, "text");
    if (textLines && isText && CrlfLines::hasBareLineEnd(bytes.getData(), bytes.getSize())) {
        DataBuffer lines;
        if (!CrlfLines::append(bytes.getData(), bytes.getSize(), lines)) return false;
        bytes.takeOver(lines);
    }

    Email2* part = newPart(nullptr);
    part->SetContentType(type.getString(), name, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    part->SetTransferEncoding(isText ? "quoted-printable" : "base64");
    part->SetDisposition("attachment", name);
    part->TakeBody(bytes);
    return AddAttachmentPart(part, outContentType);
}

bool Email2::ContentTypeForExtension(const char* ext, StringBuffer& out)
{
    return ContentTypeTable::forExtension(ext, out);
}

void Email2::GetAttachmentFilename(const Email2& part, StringBuffer& out)
{
    if (!part.filename().isEmpty())
        out = part.filename().getString();
    else if (!part.name().isEmpty())
        out = part.name().getString();
    else
        out = "attachedFile.dat";
    // A name that only looks encoded ("=?utf-8?B?...?=.txt") is the name.
    if (MimeField::hasJoinedEncodedWord(out.getString(), out.getSize(), false)) return;
    ContentCoding coding;
    coding.decodeEncodedWords(out);
}

namespace {

// Attachments sit in mixed and related nodes only; a single-part root that
// is a file is the one exception.
std::vector<Email2*> attachmentsOf(const Email2& root)
{
    std::vector<Email2*> found;
    if (isSingleAttachment(root))
        found.push_back(const_cast<Email2*>(&root));
    else if (searchedForAttachments(root))
        collectAttachments(root, found);
    return found;
}

}  // namespace

int Email2::GetAttachmentCount() const
{
    return static_cast<int>(attachmentsOf(*this).size());
}

Email2* Email2::GetAttachment(int i) const
{
    const std::vector<Email2*> found = attachmentsOf(*this);
    return i >= 0 && i < static_cast<int>(found.size()) ? found[static_cast<size_t>(i)] : nullptr;
}

void Email2::RemoveAttachments()
{
    if (searchedForAttachments(*this)) removeAttachmentsOf(*this);
}

}  // namespace hanamail
