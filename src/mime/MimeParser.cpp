// Reading MIME text into a MimeMessage2 tree: line ends, the header, the
// boundary search and the decoding of each body. Everything works by length,
// so a NUL byte is text like any other, and nothing reads past the text.
#include <algorithm>
#include <string>
#include <string_view>

#include "charset/Utf8Check.h"
#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "mime/MimeField.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeText.h"

namespace hanamail {

namespace {

constexpr std::string_view kSeparator = "\r\n\r\n";

std::string replacedAll(std::string_view s, std::string_view find, std::string_view repl)
{
    std::string r;
    r.reserve(s.size());
    size_t pos = 0;
    for (size_t at; (at = s.find(find, pos)) != std::string_view::npos; pos = at + find.size()) {
        r.append(s.substr(pos, at - pos));
        r.append(repl);
    }
    r.append(s.substr(pos));
    return r;
}

// Every line end CR LF: CR LF and bare LF become LF, other CRs go, LF becomes CR LF.
std::string crlfLines(std::string_view s)
{
    std::string r;
    r.reserve(s.size() + s.size() / 16);
    for (char c : s) {
        if (c == '\r') continue;
        if (c == '\n') r += '\r';
        r += c;
    }
    return r;
}

// A boundary line: "--" + boundary at the start of a line, then a closing
// "--", or blanks up to the line end.
struct BoundaryLine {
    size_t start = std::string_view::npos;  // of the "--"
    size_t next = 0;                        // just after the line (after its line end)
    bool closing = false;
    bool found() const { return start != std::string_view::npos; }
};

BoundaryLine findBoundary(std::string_view body, std::string_view dashed, size_t from)
{
    BoundaryLine r;
    for (size_t at = body.find(dashed, from); at != std::string_view::npos; at = body.find(dashed, at + 1)) {
        if (at > 0 && body[at - 1] != '\n') continue;
        size_t i = at + dashed.size();
        if (body.substr(i, 2) == "--") {
            r.start = at;
            r.closing = true;
            const size_t eol = body.find('\n', i);
            r.next = eol == std::string_view::npos ? body.size() : eol + 1;
            return r;
        }
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
        if (i == body.size() || body[i] == '\n' || body.substr(i, 2) == "\r\n") {
            r.start = at;
            r.next = i == body.size() ? i : (body[i] == '\n' ? i + 1 : i + 2);
            return r;
        }
        // A longer boundary that begins with this one.
    }
    return r;
}

// Where the text of a part ends: before the line end that precedes its boundary line.
size_t partEnd(std::string_view body, size_t from, size_t boundaryStart)
{
    size_t end = boundaryStart;
    if (end >= from + 1 && body[end - 1] == '\n') --end;
    if (end >= from + 1 && body[end - 1] == '\r') --end;
    return end;
}

// Whether the text opens with a header line: a field name (printable ASCII
// other than ':', blanks allowed before the colon as in the obsolete syntax)
// and a colon, a fold, or a mailbox "From " line. Any other first line is
// text, and the header is empty (as RFC 5322 readers take it).
bool beginsWithField(std::string_view t)
{
    if (t.empty() || t[0] == ' ' || t[0] == '\t' || t.substr(0, 5) == "From ") return true;
    size_t i = 0;
    auto nameByte = [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && c != ':';
    };
    while (i < t.size() && nameByte(t[i])) ++i;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    return i < t.size() && t[i] == ':';
}

bool startsWithXHtml(const DataBuffer& body)
{
    const unsigned char* p = body.getData();
    const uint32_t n = body.getSize();
    uint32_t i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n')) ++i;
    static const char tag[] = "<x-html>";
    if (n - i < sizeof(tag) - 1) return false;
    for (uint32_t k = 0; k + 1 < sizeof(tag); ++k) {
        unsigned char c = p[i + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        if (c != static_cast<unsigned char>(tag[k])) return false;
    }
    return true;
}

}  // namespace

using hanamail::BoundaryLine;

void MimeMessage2::ParseMime(const char* text, uint32_t n, LogBase& log)
{
    parseMime(text, n, log, 0);
}

void MimeMessage2::ParseMime(const char* text, uint32_t n)
{
    LogNull quiet;
    parseMime(text, n, quiet, 0);
}

void MimeMessage2::parseMime(const char* text, uint32_t n, LogBase& log, int depth)
{
    Reset();
    if (!text || n == 0) return;
    const std::string_view in(text, n);
    std::string normalised;
    std::string_view t = in;
    // Text that begins with CR LF (an empty header, as the writer gives a
    // part without fields) has CR LF line ends: its body stays as it is.
    if (in.find(hanamail::kSeparator) == std::string_view::npos && in.substr(0, 2) != "\r\n") {
        if (in.find("\n\n") != std::string_view::npos) {
            normalised = hanamail::crlfLines(in);
        } else {
            normalised = hanamail::replacedAll(hanamail::replacedAll(in, "\r\r\r\n", "\r\n"), "\r\r\n", "\r\n");
            // Lines that end in CR alone.
            if (normalised.find(hanamail::kSeparator) == std::string::npos && in.find("\r\r") != std::string_view::npos)
                normalised = hanamail::replacedAll(in, "\r", "\r\n");
        }
        t = normalised;
    }

    const size_t sep = t.find(hanamail::kSeparator);
    // Text that starts with a line end, or with a line that is no header
    // line, has no header, though an empty line may follow further on: its
    // first paragraph is body, not fields.
    const bool lineEndFirst = t.substr(0, 2) == "\r\n";
    if (lineEndFirst || !hanamail::beginsWithField(t)) {
        // An empty header: the line end that closes it is no text of the body.
        const size_t skip = lineEndFirst ? 2 : 0;
        m_header.AddField(new MimeField("content-type", "text/plain"));
        ReadCachedFields();
        SetBodyFromText(t.data() + skip, static_cast<uint32_t>(t.size() - skip), Charset());
        ClearModified();
        return;
    }
    if (sep == std::string_view::npos) {
        m_header.LoadFromMimeText(t.data(), static_cast<int32_t>(t.size()));
        ReadCachedFields();
        ClearModified();
        return;
    }
    m_header.LoadFromMimeText(t.data(), static_cast<int32_t>(sep));
    ReadCachedFields();
    const std::string_view body = t.substr(sep + hanamail::kSeparator.size());
    parseBody(body.data(), static_cast<uint32_t>(body.size()), log, depth);
    ClearModified();
}

void MimeMessage2::ParseBody(const char* body, uint32_t n, LogBase& log)
{
    parseBody(body, n, log, 0);
}

void MimeMessage2::decodeSingleBody(const char* body, uint32_t n)
{
    // Only text is held as UTF-8: the bytes of any other type stay as they
    // came, since the writer converts nothing but text back.
    const Charset none;
    const Charset& cs = mimetext::beginsWithNoCase(m_contentType, "text/") ? m_charset : none;
    if (m_transferEncoding.equalsIgnoreCase("base64") &&
        std::string_view(body, n).find('\0') != std::string_view::npos) {
        // The decoder stops at a NUL; it is no base64 character, so it is skipped like any other.
        std::string clean(body, n);
        clean.erase(std::remove(clean.begin(), clean.end(), '\0'), clean.end());
        SetEncodedBody(m_transferEncoding.getString(), clean.data(), static_cast<uint32_t>(clean.size()), cs);
    } else {
        SetEncodedBody(m_transferEncoding.getString(), body, n, cs);
    }
    if (hanamail::startsWithXHtml(m_body) && !m_contentType.equalsIgnoreCase("text/html")) {
        if (utf8check::isValid(m_body.getData(), m_body.getSize())) {
            SetContentType("text/html", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        } else {
            // Bytes of no known charset: a "us-ascii" label would have them
            // read otherwise next time, so the type goes without a charset
            // and the bytes stay as they are.
            SetHeaderField("content-type", "text/html");
        }
    }
}

void MimeMessage2::parseBody(const char* bodyText, uint32_t n, LogBase& log, int depth)
{
    if (!bodyText || n == 0) return;
    const std::string_view body(bodyText, n);
    if (!IsMultipart() || m_boundary.isEmpty()) {
        decodeSingleBody(bodyText, n);
        return;
    }
    if (m_boundary.getSize() > kMaxBoundary) {
        log.logInfo("The multipart boundary is longer than 200 bytes; the body is kept undivided");
        decodeSingleBody(bodyText, n);
        return;
    }
    if (depth >= kMaxDepth) {
        log.logInfo("MIME parts are nested more than 64 levels deep; the rest is kept as the body of one part");
        decodeSingleBody(bodyText, n);
        return;
    }
    const std::string dashed = std::string("--") + m_boundary.getString();

    // The first delimiter (not the closing one); the preamble before it is ignored.
    BoundaryLine line = hanamail::findBoundary(body, dashed, 0);
    const BoundaryLine firstClosing = line;
    while (line.found() && line.closing) line = hanamail::findBoundary(body, dashed, line.next);
    if (!line.found()) {
        log.logInfo("No boundary found in the multipart body; it is kept as one part");
        // The part ends before a closing delimiter: kept in its text, it
        // would end the part early when the email is read again.
        const uint32_t kept =
            firstClosing.found() ? static_cast<uint32_t>(hanamail::partEnd(body, 0, firstClosing.start)) : n;
        auto* single = new MimeMessage2();
        single->ParseAsSingle(bodyText, kept);
        AddSubPart(single);
        return;
    }

    const bool isSigned = m_contentType.equalsIgnoreCase("multipart/signed");
    // In a digest a part without header fields is a message (RFC 2046 section 5.1.5).
    const bool isDigest = m_contentType.equalsIgnoreCase("multipart/digest");
    bool first = true;
    size_t from = line.next;
    for (;;) {
        const BoundaryLine next = hanamail::findBoundary(body, dashed, from);
        size_t end;
        if (next.found()) {
            end = hanamail::partEnd(body, from, next.start);
        } else {
            // No closing boundary: the part runs to the end, less its last line end.
            end = body.size();
            if (end >= from + 1 && body[end - 1] == '\n') --end;
            if (end >= from + 1 && body[end - 1] == '\r') --end;
        }
        if (end > from) {
            if (GetSubPartCount() >= kMaxParts) {
                log.logInfo("The multipart has more than 10000 parts; the rest is ignored");
                break;
            }
            auto* part = new MimeMessage2();
            const bool headerless = body[from] == '\n' || body.substr(from, 2) == "\r\n";
            part->parseMime(bodyText + from, static_cast<uint32_t>(end - from), log, depth + 1);
            if (isDigest && headerless) {
                part->SetContentType("message/rfc822");
                part->ClearModified();
            }
            if (isSigned && first) part->SetRawText(bodyText + from, static_cast<int32_t>(end - from));
            first = false;
            AddSubPart(part);
        }
        if (!next.found() || next.closing) break;
        from = next.next;
    }
}

void MimeMessage2::ParseAsSingle(const char* text, uint32_t n)
{
    Reset();
    if (!text || n == 0) return;
    const std::string_view t(text, n);
    size_t sep = t.find(hanamail::kSeparator);
    size_t sepLen = 4;
    if (sep == std::string_view::npos) {
        sep = t.find("\n\n");
        sepLen = 2;
    }
    if (sep == std::string_view::npos) sep = t.find("\r\r");
    if (sep != std::string_view::npos && sep > 0) {
        m_header.LoadFromMimeText(text, static_cast<int32_t>(sep));
        ReadCachedFields();
        // Text that begins like a part keeps that part's header and body; not
        // a multipart one, whose body would be split into parts when the
        // email is read again.
        if (m_header.HasField("content-type") && !IsMultipart()) {
            decodeSingleBody(text + sep + sepLen, static_cast<uint32_t>(n - sep - sepLen));
            ClearModified();
            return;
        }
        Reset();
    }
    // Anything else is the text itself: nothing of it is dropped.
    m_header.AddField(new MimeField("content-type", "text/plain"));
    ReadCachedFields();
    SetBodyFromText(text, n, Charset());
    ClearModified();
}

}  // namespace hanamail
