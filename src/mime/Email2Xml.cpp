// The XML form of an email: a direct rendering of its MIME tree, and the
// reader that rebuilds the MIME entities from it.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "charset/ContentCoding.h"
#include "charset/Utf8Check.h"
#include "foundation/LogNull.h"
#include "foundation/TreeNode.h"
#include "mime/BodyEncoder.h"
#include "mime/Email2.h"
#include "mime/MimeBodyText.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeText.h"
#include "mime/Rfc822Address.h"

namespace hanamail {

namespace {

constexpr int kMaxParams = 40;
constexpr const char* kPreambleLine = "This is a multi-part message in MIME format.";

using mimetext::isBlank;
using mimetext::lowered;

using mimetext::trimmed;

bool isSingleAddressField(const std::string& name)
{
    return name == "return-path" || name == "from" || name == "sender" || name == "reply-to";
}

bool isAddressListField(const std::string& name)
{
    return name == "to" || name == "cc" || name == "x-rcpt-to";
}

// Only the MIME fields that carry parameters are split into attributes: in
// free text (a Subject "Price; size=5", a DKIM-Signature) ";" and "=" are
// text, and splitting would bring them back changed.
bool hasParameters(const std::string& name)
{
    return name == "content-type" || name == "content-disposition";
}

// A name XML readers take as a tag or an attribute name (ASCII letters,
// digits, ".", "-" and "_", not beginning with a digit, "." or "-").
bool isXmlName(const std::string& s)
{
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '.' || c == '-'))) return false;
    }
    return true;
}

// Bytes that XML 1.0 cannot carry as they are (control bytes but tab, CR and
// LF), or that would not read back as the same bytes (anything not 7-bit).
bool needsWord(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80 || (c < 0x20 && c != '\t')) return true;
    return false;
}

// The value as the private "8bit" Q word when it is not plain 7-bit text.
std::string wordIfNeeded(const std::string& s)
{
    if (!needsWord(s)) return s;
    StringBuffer word;
    ContentCoding().encodeQWord(s.data(), static_cast<uint32_t>(s.size()), "8bit", word);
    return std::string(word.getString(), static_cast<size_t>(word.getSize()));
}

// The bytes back from "8bit" words (other encoded words stay for the header
// loader to decode in their charsets); NULs are dropped, as they would cut
// a header line short.
std::string fromWord(const std::string& s)
{
    if (!StringBuffer(s.c_str()).containsIgnoreCase("?8bit?")) return s;
    DataBuffer raw;
    ContentCoding().decodeEncodedWordsRaw(StringBuffer(s.c_str()), raw);
    std::string out;
    for (uint32_t i = 0; i < raw.getSize(); ++i)
        if (raw.getData()[i] != 0) out += static_cast<char>(raw.getData()[i]);
    return out;
}

void appendEscaped(StringBuffer& out, const std::string& s)
{
    for (char c : s) {
        switch (c) {
            case '&': out << "&amp;"; break;
            case '<': out << "&lt;"; break;
            case '>': out << "&gt;"; break;
            default: out << c;
        }
    }
}

void appendAttributeValue(StringBuffer& out, const std::string& s)
{
    (void)out.appendXmlEscaped(wordIfNeeded(s).c_str());  // a failure stays recorded in out
}

struct Param {
    std::string name;
    std::string value;
};

// One unfolded header line split into its lower-cased name, main value and
// parameters.
struct FieldLine {
    std::string name;
    std::string value;
    std::vector<Param> params;
};

// Text that is no parameter goes back into the value with the separator it
// had (";", "; " or a blank): a word decoded on import keeps its own spaces,
// and one added here would grow the value at every round.
void appendToValue(std::string& value, std::string_view text, std::string_view separator)
{
    if (text.empty()) return;
    const bool semicolon = separator.find(';') != std::string_view::npos;
    const bool blank = !separator.empty() && isBlank(separator.back());
    if (!value.empty()) {
        if (semicolon && value.back() != ';') value += ';';
        if (blank || !semicolon) value += ' ';
    }
    value += text;
}

FieldLine splitField(const std::string& line)
{
    FieldLine f;
    const size_t colon = line.find(':');
    f.name = lowered(trimmed(line.substr(0, colon)));
    if (colon == std::string::npos) return f;
    size_t i = colon + 1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const bool params = hasParameters(f.name);
    const char* stops = f.name == "content-type" ? "; \r\n" : (params ? ";\r\n" : "\r\n");
    size_t end = line.find_first_of(stops, i);
    if (end == std::string::npos) end = line.size();
    f.value = trimmed(line.substr(i, end - i));
    if (f.name == "content-type") f.value = lowered(f.value);
    if (!params) return f;
    // The parameters; a quoted value is one piece, without its quotes.
    i = end;
    int count = 0;
    while (i < line.size() && count < kMaxParams) {
        const size_t before = i;
        while (i < line.size() && (line[i] == ';' || isBlank(line[i]))) ++i;
        if (i >= line.size()) break;
        const size_t start = i;
        while (i < line.size() && line[i] != '=' && line[i] != ';' && !isBlank(line[i])) ++i;
        std::string name = line.substr(start, i - start);
        size_t j = i;
        while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
        std::string value;
        bool hasValue = false;
        if (j < line.size() && line[j] == '=') {
            hasValue = true;
            i = j + 1;
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            if (i < line.size() && line[i] == '"') {
                for (++i; i < line.size() && line[i] != '"'; ++i) {
                    if (line[i] == '\\' && i + 1 < line.size()) ++i;
                    value += line[i];
                }
                i = line.find(';', i);
                if (i == std::string::npos) i = line.size();
            } else {
                const size_t vEnd = std::min(line.find(';', i), line.size());
                value = trimmed(line.substr(i, vEnd - i));
                i = vEnd;
            }
        }
        ++count;
        name = lowered(name);
        // What cannot be an attribute stays text of the value: besides the
        // pieces that are no parameters, a name that is no XML name (as
        // "filename*") and a repeated name (an element has each attribute once).
        bool repeated = false;
        for (const Param& p : f.params) repeated = repeated || p.name == name;
        if (!hasValue || value.empty() || name.empty() || name.find_first_of("@/;)") != std::string::npos ||
            !isXmlName(name) || repeated) {
            appendToValue(f.value, trimmed(line.substr(start, i - start)), line.substr(before, start - before));
            continue;
        }
        f.params.push_back({name, value});
    }
    return f;
}

// The header as unfolded lines, continuation lines joined to theirs.
std::vector<std::string> headerLines(const MimeHeader& header, const Charset& charset)
{
    StringBuffer text;
    header.WriteUnfolded(text, nullptr, charset);
    std::vector<std::string> lines;
    const std::string s(text.getString(), static_cast<size_t>(text.getSize()));
    size_t at = 0;
    while (at < s.size()) {
        size_t end = s.find("\r\n", at);
        if (end == std::string::npos) end = s.size();
        std::string line = s.substr(at, end - at);
        if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t'))
            lines.back() += line;
        else if (!line.empty())
            lines.push_back(line);
        at = end + 2;
    }
    return lines;
}

void writeAddressField(StringBuffer& out, const FieldLine& f)
{
    out << "\n";
    if (isSingleAddressField(f.name)) {
        std::unique_ptr<Rfc822Address> a(Rfc822Address::Parse(f.value.c_str()));
        if (a)
            a->WriteXml(out);
        else
            appendEscaped(out, wordIfNeeded(f.value));
    } else {
        ExtPtrArray list;
        Rfc822Address::ParseList(f.value.c_str(), list);
        if (list.getSize() == 0) {
            out << "<description>";
            appendEscaped(out, wordIfNeeded(f.value));
            out << "</description>";
        }
        for (int i = 0; i < list.getSize(); ++i) static_cast<Rfc822Address*>(list.get(i))->WriteXml(out);
        list.removeAllObjects();
    }
    out << "\n";
}

// The header element, or nothing when the header has no field.
void writeHeader(StringBuffer& out, const MimeMessage2& entity)
{
    const std::vector<std::string> lines = headerLines(entity.header(), entity.charset());
    StringBuffer fields;
    for (const std::string& line : lines) {
        const FieldLine f = splitField(line);
        // A field whose name no XML reader takes as a tag is left out: it
        // would make the whole document unreadable.
        if (!isXmlName(f.name)) continue;
        fields << "<" << f.name.c_str();
        for (const Param& p : f.params) {
            fields << " " << p.name.c_str() << "=\"";
            appendAttributeValue(fields, p.value);
            fields << "\"";
        }
        fields << ">";
        const bool address = isSingleAddressField(f.name) || isAddressListField(f.name);
        if (address) {
            writeAddressField(fields, f);
        } else {
            const bool framed = f.name == "content-type" || f.name == "message-id";
            if (framed) fields << "\n";
            appendEscaped(fields, wordIfNeeded(f.value));
            if (framed) fields << "\n";
        }
        fields << "</" << f.name.c_str() << ">\n";
    }
    if (fields.isEmpty()) return;
    out << "<header>\n" << fields << "</header>\n";
}

// The body of a leaf as the MIME writer writes it.
std::string encodedBody(const MimeMessage2& entity)
{
    MimeBodyText text;
    StringBuffer out;
    if (!text.prepare(entity.contentType(), entity.charset(), entity.body(), false)) return std::string();
    (void)BodyEncoder::append(entity.transferEncoding(), text.data(), text.size(), out);
    return std::string(out.getString(), static_cast<size_t>(out.getSize()));
}

// Text that CDATA cannot carry unchanged: its end marker, bytes XML does not
// allow, or bytes that are not UTF-8 (the document is read as UTF-8).
bool cdataCannotCarry(const std::string& body)
{
    if (body.find("]]>") != std::string::npos) return true;
    for (unsigned char c : body)
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') return true;
    return !utf8check::isValid(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
}

// Wrapped when the reader would change it otherwise: markup characters, line
// ends and tabs, and white space at either end (which it trims).
bool needsCdata(const std::string& body)
{
    if (body.find_first_of("\n\r\t&<>") != std::string::npos) return true;
    return !body.empty() && (isBlank(body.front()) || isBlank(body.back()));
}

void appendTrimmedRight(StringBuffer& out, const StringBuffer& s)
{
    int32_t n = s.getSize();
    while (n > 0 && isBlank(s.getString()[n - 1])) --n;
    (void)out.appendN(s.getString(), n);
}

// ---- Reading

std::string contentOf(const TreeNode* n)
{
    return n ? std::string(n->contentText(), static_cast<size_t>(n->contentSize())) : std::string();
}

// Header text is one line per field: a line end inside a value would start a new field.
std::string oneLine(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

// A MIME quoted string.
void appendQuoted(std::string& out, const std::string& s)
{
    out += '"';
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

// The mailboxes of the address elements as the header writer writes them:
// "name" <address> (the bare address without a name), joined by ", ";
// empty when the element holds none.
std::string addressList(const TreeNode& field)
{
    std::string out;
    StringBuffer full;
    for (int32_t i = 0; i < field.numChildren(); ++i) {
        const TreeNode* a = field.getChild(i);
        const TreeNode* addr = a->findChild("addr");
        const TreeNode* name = a->findChild("name");
        if (!addr || !name) continue;
        const std::string n(trimmed(oneLine(fromWord(contentOf(name)))));
        const Rfc822Address mailbox(n.empty() ? nullptr : n.c_str(), oneLine(trimmed(contentOf(addr))).c_str());
        full.clear();
        mailbox.GetFullForm(full);
        if (!out.empty()) out += ", ";
        out += full.getString();
    }
    return out;
}

std::string headerText(const TreeNode& header)
{
    std::string text;
    for (int32_t i = 0; i < header.numChildren(); ++i) {
        const TreeNode* f = header.getChild(i);
        const std::string tag = f->getTag();
        if (tag.empty()) continue;
        std::string value;
        const bool address = isSingleAddressField(tag) || isAddressListField(tag);
        if (address) value = addressList(*f);
        if (address && value.empty()) {
            // A list without mailboxes keeps its text; so does a sender that did not parse.
            const TreeNode* d = f->findChild("description");
            value = oneLine(trimmed(fromWord(contentOf(d ? d : f))));
        } else if (!address) {
            value = oneLine(trimmed(fromWord(contentOf(f))));
            for (int32_t k = 0; k < f->numAttributes(); ++k) {
                value += std::string("; ") + f->getAttributeName(k) + "=";
                appendQuoted(value, oneLine(fromWord(f->getAttributeValue(k))));
            }
        }
        text += tag + ": " + value + "\n";
    }
    return text;
}

}  // namespace

// ---- Writing

void Email2::WriteXml(MimeMessage2& entity, StringBuffer& out)
{
    const bool leaf = entity.GetSubPartCount() == 0;
    std::string body;
    if (leaf) {
        body = encodedBody(entity);
        if (cdataCannotCarry(body)) {
            entity.SetTransferEncoding("base64");
            body = encodedBody(entity);
        }
    }
    StringBuffer header;
    writeHeader(header, entity);
    if (header.isEmpty()) return;
    out << "<mime_message>\n" << header << "<body>\n";
    if (leaf) {
        const bool wrap =
            needsCdata(body) && !(body.find("<![CDATA[") != std::string::npos && body.find("]]>") != std::string::npos);
        if (wrap) out << "<![CDATA[";
        out << body;
        if (wrap) out << "]]>";
    } else {
        StringBuffer sub;
        for (int i = 0; i < entity.GetSubPartCount(); ++i) {
            sub.clear();
            WriteXml(*entity.GetSubPart(i), sub);
            if (sub.isEmpty()) continue;
            out << "<subpart>\n";
            appendTrimmedRight(out, sub);
            out << "\n</subpart>\n";
        }
    }
    out << "\n</body>\n</mime_message>\n";
}

bool Email2::GetXml(StringBuffer& out, bool normalise)
{
    if (normalise) NormaliseTransferEncodings(*this);
    // The tree is what reading this email's MIME text gives: the header as
    // written (encoded words, charset label) and the bodies decoded again.
    StringBuffer mime;
    if (!WriteMimeText(mime, nullptr)) return false;
    MimeMessage2 entity;
    LogNull quiet;
    entity.ParseMime(mime.getString(), static_cast<uint32_t>(mime.getSize()), quiet);
    mime.clear();
    if (m_bcc.getSize() > 0) {
        StringBuffer joined;
        for (int i = 0; i < m_bcc.getSize(); ++i) {
            if (i > 0) joined << ",";
            joined << static_cast<const Rfc822Address*>(m_bcc.get(i))->address();
        }
        entity.SetHeaderField("Bcc", joined.getString());
    }
    const int32_t before = out.getSize();
    WriteXml(entity, out);
    return out.getSize() > before && !out.hasFailed();
}

// ---- Reading

MimeMessage2* Email2::ReadEntity(TreeNode& element, bool addPreamble)
{
    TreeNode* header = element.findChild("header");
    TreeNode* body = element.findChild("body");
    if (!header || !body) return nullptr;
    std::vector<MimeMessage2*> parts;
    for (int32_t i = 0; i < body->numChildren(); ++i) {
        TreeNode* sub = body->getChild(i);
        if (!sub->tagEquals("subpart") || sub->numChildren() == 0) continue;
        if (MimeMessage2* part = ReadEntity(*sub->getChild(0), false)) parts.push_back(part);
    }
    std::string bodyText = contentOf(body);
    if (bodyText.empty() && !parts.empty() && addPreamble) bodyText = kPreambleLine;
    // A form saved with LF line ends (as files are) gets the CR LF lines of
    // MIME back, as the MIME reader gives them to such text.
    if (bodyText.find('\r') == std::string::npos && bodyText.find('\n') != std::string::npos) {
        std::string crlf;
        for (char c : bodyText) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        bodyText.swap(crlf);
    }

    auto* entity = new MimeMessage2();
    entity->Reset();
    const std::string head = headerText(*header);
    entity->header().LoadFromMimeText(head.c_str(), static_cast<int32_t>(head.size()));
    entity->ReadCachedFields();
    entity->SetEncodedBody(entity->transferEncoding().getString(), bodyText.data(),
                           static_cast<uint32_t>(bodyText.size()), entity->charset());
    for (MimeMessage2* part : parts) entity->AddSubPart(part);
    return entity;
}

MimeMessage2* Email2::ParseXml(const char* text, int32_t n, const char* rootTag, LogBase* log)
{
    TreeNode* raw = nullptr;
    if (!TreeNode::parseXml(text, n, log, &raw, true) || !raw) return nullptr;
    std::unique_ptr<TreeNode> root(raw);
    TreeNode* element = root->tagEquals(rootTag) ? root.get() : root->searchForTag(nullptr, rootTag);
    return element ? ReadEntity(*element, true) : nullptr;
}

Email2* Email2::ImportXml(const char* text, int32_t n, LogBase* log)
{
    std::unique_ptr<MimeMessage2> entity(ParseXml(text, n, "mime_message", log));
    if (!entity) return nullptr;
    LogNull quiet;
    return toEmail(*entity, log ? *log : quiet, 0, false);
}

}  // namespace hanamail
