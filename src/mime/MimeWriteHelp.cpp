#include "mime/MimeWriteHelp.h"

#include <atomic>
#include <cstring>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeBodyText.h"
#include "mime/MimeHeader.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Lower-case 8-4-4-4-12 form of a fresh UUID.
std::string freshUuidText()
{
    platform::Uuid u{};
    if (!platform::createUuid(u)) {
        // Without the system's source a boundary must still differ from the
        // last one: mix the tick count with a process-wide counter.
        static std::atomic<uint32_t> counter{0};
        const uint32_t n = ++counter;
        const uint32_t t = platform::tickCount();
        u.data1 = t ^ (n * 2654435761u);
        u.data2 = static_cast<uint16_t>(n);
        u.data3 = static_cast<uint16_t>(t >> 16);
        for (int i = 0; i < 8; ++i) u.data4[i] = static_cast<uint8_t>((t >> (i * 3)) ^ (n >> i) ^ (i * 37));
    }
    std::string s = platform::uuidToString(u);
    for (char& c : s) c = asciiLower(c);
    return s;
}

}  // namespace

void MimeWriteHelp::NewBoundary(StringBuffer& out)
{
    const std::string u = freshUuidText();
    out.clear();
    if (u.size() < 36) return;
    std::string b = "----=_NextPart_";
    b += u.substr(0, 3);
    b += '_';
    b += u.substr(3, 4);
    b += '_';
    b += u.substr(9, 4);
    b += u.substr(14, 4);
    b += '.';
    b += u.substr(24, 8);
    out << b.c_str();
}

bool MimeWriteHelp::isBase64CodePage(int cp)
{
    if (cp >= 50000) return true;
    if (cp == 874 || (cp > 900 && cp < 1000)) return true;
    if (cp >= 20833 && cp < 22000) return true;
    switch (cp) {
        case 1200:
        case 1201:
        case 1361:
        case 10001:
        case 10002:
        case 10003:
        case 10021: return true;
        default: return false;
    }
}

const char* MimeWriteHelp::TransferEncodingForCodePage(int cp)
{
    if (cp == 20127) return "7bit";
    if (isBase64CodePage(cp)) return "base64";
    return "quoted-printable";
}

void MimeWriteHelp::appendQuoted(StringBuffer& out, const char* value)
{
    out << '"';
    for (const char* p = value; p && *p; ++p) {
        if (*p == '"' || *p == '\\') out << '\\';
        out << *p;
    }
    out << '"';
}

MimeWriteHelp::ContentTypeParams::ContentTypeParams(const char* type, const char* boundary, const char* name,
                                                    const char* protocol, const char* micalg, const char* smimeType)
    : type(type ? type : ""),
      boundary(boundary ? boundary : ""),
      name(name ? name : ""),
      protocol(protocol ? protocol : ""),
      micalg(micalg ? micalg : ""),
      smimeType(smimeType ? smimeType : "")
{
}

void MimeWriteHelp::ContentTypeFields::clear() const
{
    type->clear();
    boundary->clear();
    name->clear();
    protocol->clear();
    micalg->clear();
    smimeType->clear();
}

void MimeWriteHelp::appendContentTypeParams(StringBuffer& value, const ContentTypeParams& params,
                                            const ContentTypeFields& fields)
{
    auto add = [&value](const char* arg, const char* before, bool quoted, StringBuffer& field) {
        if (!arg || !*arg) return;
        if (value.lastChar() != ';') value << ';';
        value << before;
        if (quoted)
            appendQuoted(value, arg);
        else
            value << arg;
        value << ";";
        field = arg;
    };
    add(params.type.getString(), " type=", true, *fields.type);
    add(params.boundary.getString(), "\r\n\tboundary=", true, *fields.boundary);
    add(params.name.getString(), "\r\n\tname=", true, *fields.name);
    add(params.protocol.getString(), "\r\n\tprotocol=", true, *fields.protocol);
    add(params.micalg.getString(), "\r\n\tmicalg=", false, *fields.micalg);
    add(params.smimeType.getString(), "\r\n\tsmime-type=", false, *fields.smimeType);
}

void MimeWriteHelp::writeHeader(const MimeHeader& header, const char* contentTypeName, const MimeBodyText& text,
                                const char* excludedPrefix, const Charset& cs, StringBuffer& out,
                                const char* newBoundary)
{
    MimeHeader changed;
    const MimeHeader* written = &header;
    if (!text.charsetLabel().empty()) {
        MimeBodyText::copyWithCharsetLabel(header, contentTypeName, text.charsetLabel().c_str(), changed);
        written = &changed;
    } else if (newBoundary && MimeBodyText::copyWithParam(header, "boundary", newBoundary, changed)) {
        written = &changed;
    }
    written->WriteMime(out, excludedPrefix, cs);
    out << "\r\n\r\n";
}

void MimeWriteHelp::boundaryToWrite(const StringBuffer& own, const BoundaryChain* outer, StringBuffer& out)
{
    out.clear();
    for (const BoundaryChain* c = outer; c; c = c->outer) {
        if (c->boundary.getSize() == own.getSize() && c->boundary.equals(own.getString())) {
            NewBoundary(out);
            return;
        }
    }
    out << own;
}

void MimeWriteHelp::trimParamList(StringBuffer& value)
{
    value.trim2();
    if (value.lastChar() == ';') {
        value.shorten(1);
        value.trim2();
    }
}

bool MimeWriteHelp::appendEncoded(const StringBuffer& transferEncoding, const unsigned char* bytes, uint32_t n,
                                  StringBuffer& out)
{
    ContentCoding coding;
    bool ok = true;
    if (transferEncoding.equalsIgnoreCase("base64"))
        ok = coding.encodeBase64(bytes, n, out);
    else if (transferEncoding.equalsIgnoreCase("quoted-printable"))
        ok = coding.encodeQuotedPrintable(bytes, n, out);
    else if (n > 0)
        out << std::string_view(reinterpret_cast<const char*>(bytes), n);
    // An encoder fails only when its output cannot grow.
    if (!ok && !out.hasFailed()) out.markFailed(BufferFailure::TooLarge);
    return ok && !out.hasFailed();
}

void MimeWriteHelp::appendPhraseSafeQ(std::string& out, unsigned char c)
{
    static const char kHex[] = "0123456789ABCDEF";
    const bool literal = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
                         c == '*' || c == '+' || c == '-' || c == '/' || c == '=' || c == '_';
    if (literal) {
        out += static_cast<char>(c);
    } else {
        out += '=';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
}

bool MimeWriteHelp::beginsWithNoCase(const char* s, const char* prefix)
{
    if (!s || !prefix) return false;
    for (; *prefix; ++s, ++prefix)
        if (*s == '\0' || asciiLower(*s) != asciiLower(*prefix)) return false;
    return true;
}

bool MimeWriteHelp::beginsWithNoCase(const StringBuffer& s, const char* prefix)
{
    return beginsWithNoCase(s.getString(), prefix);
}

bool MimeWriteHelp::hasHighBytes(const unsigned char* bytes, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        if (bytes[i] >= 0x80) return true;
    return false;
}

bool MimeWriteHelp::hasBareLineEnd(const unsigned char* bytes, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] == '\n') return true;
        if (bytes[i] == '\r') {
            if (i + 1 >= n || bytes[i + 1] != '\n') return true;
            ++i;
        }
    }
    return false;
}

bool MimeWriteHelp::appendCrlfLines(const unsigned char* bytes, uint32_t n, DataBuffer& out)
{
    uint32_t lines = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (bytes[i] == '\n' || bytes[i] == '\r') ++lines;
    // Beyond what a buffer can hold the appends below fail by themselves.
    const uint64_t want = uint64_t{out.getSize()} + n + lines;
    if (want <= UINT32_MAX && !out.ensureCapacity(static_cast<uint32_t>(want))) return false;
    uint32_t from = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') continue;
        if (!out.append(bytes + from, i - from) || !out.append("\r\n", 2)) return false;
        if (bytes[i] == '\r' && i + 1 < n && bytes[i + 1] == '\n') ++i;
        from = i + 1;
    }
    return out.append(bytes + from, n - from);
}

}  // namespace hanamail
