#include "tools/cli/MessageView.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "mime/MimeParamList.h"

namespace hanamail {

namespace cli {

namespace {

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(std::string_view s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return std::string();
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

std::string fieldValue(const Email2& part, const char* name)
{
    StringBuffer v;
    if (!part.GetHeaderField(name, v)) return std::string();
    return std::string(v.getString(), static_cast<size_t>(v.getSize()));
}

// The parameter of a field as written (case of the value kept), or empty.
std::string parameter(const Email2& part, const char* field, const char* name)
{
    const std::string value = fieldValue(part, field);
    const size_t semi = value.find(';');
    if (semi == std::string::npos) return std::string();
    for (const MimeParamList::Param& p : MimeParamList::parse(std::string_view(value).substr(semi + 1)))
        if (lower(p.name) == name) return p.value;
    return std::string();
}

bool markedAttachment(const Email2& part)
{
    return lower(trimmed(part.disposition().getString())) == "attachment";
}

}  // namespace

MessageView::MessageView(const Email2& root)
{
    m_text = findBody(root, "text/plain");
    m_html = findBody(root, "text/html");
    collectLeaves(root);
}

std::string MessageView::contentType(const Email2& part)
{
    std::string type = lower(trimmed(part.contentType().getString()));
    return type.find('/') == std::string::npos ? std::string("text/plain") : type;
}

bool MessageView::isLeaf(const Email2& part)
{
    return !part.IsMultipart() || part.GetPartCount() == 0;
}

// The first part of the type, walking multiparts in order; a related
// multipart only through its root part, never into an attached message.
const Email2* MessageView::findBody(const Email2& part, const char* type) const
{
    if (markedAttachment(part)) return nullptr;
    const std::string own = contentType(part);
    if (own.rfind("text/", 0) == 0) return own == type ? &part : nullptr;
    if (isLeaf(part)) return nullptr;
    if (own == "multipart/related") {
        const Email2* root = part.GetPart(0);
        const std::string start = parameter(part, "Content-Type", "start");
        for (int i = 0; !start.empty() && i < part.GetPartCount(); ++i) {
            if (trimmed(fieldValue(*part.GetPart(i), "Content-ID")) == start) {
                root = part.GetPart(i);
                break;
            }
        }
        return root ? findBody(*root, type) : nullptr;
    }
    for (int i = 0; i < part.GetPartCount(); ++i)
        if (const Email2* found = findBody(*part.GetPart(i), type)) return found;
    return nullptr;
}

void MessageView::collectLeaves(const Email2& part)
{
    if (isLeaf(part)) {
        if (&part != m_text && &part != m_html) m_attachments.push_back(&part);
        return;
    }
    for (int i = 0; i < part.GetPartCount(); ++i) collectLeaves(*part.GetPart(i));
}

std::string MessageView::fileName(const Email2& part)
{
    StringBuffer name;
    if (!part.filename().isEmpty()) {
        Email2::GetAttachmentFilename(part, name);
    } else {
        // The cached name is lower case; the field keeps it as written.
        const std::string written = parameter(part, "Content-Type", "name");
        if (written.empty()) return std::string();
        name = written.c_str();
        ContentCoding coding;
        coding.decodeEncodedWords(name);
    }
    return std::string(name.getString(), static_cast<size_t>(name.getSize()));
}

std::string MessageView::bytes(const Email2& part)
{
    const DataBuffer& body = part.body();
    const char* data = reinterpret_cast<const char*>(body.getData());
    std::string utf8(data ? data : "", body.getSize());
    // The reader holds text in UTF-8; the file is in the charset it names.
    const int cp = part.charset().getCodePage();
    if (contentType(part).rfind("text/", 0) != 0 || cp == 0 || cp == 65001) return utf8;
    DataBuffer out;
    EncodingConvert conv;
    conv.convert(65001, cp, utf8.data(), static_cast<uint32_t>(utf8.size()), out);
    if (out.hasFailed()) return utf8;
    const char* od = reinterpret_cast<const char*>(out.getData());
    return std::string(od ? od : "", out.getSize());
}

}  // namespace cli

}  // namespace hanamail
