#include "web/HttpResponseHeader.h"

#include <string_view>

#include "web/HttpUrl.h"

namespace hanamail {

namespace {

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Offset of needle in s, ASCII case ignored, or npos.
size_t findNoCase(std::string_view s, std::string_view needle)
{
    if (needle.size() > s.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && lower(s[i + k]) == lower(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

HttpResponseHeader::~HttpResponseHeader() = default;

void HttpResponseHeader::clear()
{
    m_statusCode = 0;
    m_reason.clear();
    m_fields.Clear();
    m_contentLength = 0;
    m_hasContentLength = false;
    m_badContentLength = false;
}

void HttpResponseHeader::setUrl(const char* url)
{
    HttpUrl::removeUserInfo(url, m_url);
}

void HttpResponseHeader::parse(const unsigned char* block, uint32_t n)
{
    clear();
    if (!block) return;
    const std::string_view text(reinterpret_cast<const char*>(block), n);
    if (text.substr(0, 4) != "HTTP") return;
    size_t lineEnd = text.find_first_of("\r\n");
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    parseStatusLine(text.data(), static_cast<uint32_t>(lineEnd));
    if (m_statusCode == 0) return;
    parseContentLength(text.data(), n);

    size_t rest = lineEnd;
    while (rest < text.size() && (text[rest] == '\r' || text[rest] == '\n' || text[rest] == ' ' || text[rest] == '\t'))
        ++rest;
    if (rest < text.size()) m_fields.LoadFromMimeText(text.data() + rest, static_cast<int32_t>(text.size() - rest));
}

// "HTTP/1.1 200 OK": the code after the first space, the reason after the
// second, both within the line ("HTTP/1.1 200" has an empty reason).
void HttpResponseHeader::parseStatusLine(const char* line, uint32_t n)
{
    const std::string_view s(line, n);
    const size_t space = s.find(' ');
    if (space == std::string_view::npos) return;
    size_t i = space + 1;
    int32_t code = 0;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i]) && digits < 4) {
        code = code * 10 + (s[i] - '0');
        ++i;
        ++digits;
    }
    if (digits != 3 || (i < s.size() && s[i] != ' ') || code < 100) return;
    m_statusCode = code;
    const size_t second = s.find(' ', space + 1);
    if (second != std::string_view::npos) {
        m_reason << s.substr(second + 1);
        m_reason.trim2();
    }
}

void HttpResponseHeader::parseContentLength(const char* block, uint32_t n)
{
    const std::string_view s(block, n);
    static constexpr std::string_view kName = "\nContent-Length:";
    const size_t at = findNoCase(s, kName);
    if (at == std::string_view::npos) return;
    size_t i = at + kName.size();
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && s[i] == '-') {
        m_badContentLength = true;
        return;
    }
    int64_t value = 0;
    size_t digits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, ++digits) {
        value = value * 10 + (s[i] - '0');
        if (value > 0x7FFFFFFF) {
            m_badContentLength = true;
            return;
        }
    }
    if (digits == 0) return;
    m_hasContentLength = true;
    m_contentLength = static_cast<int32_t>(value);
}

bool HttpResponseHeader::isChunked() const
{
    StringBuffer value;
    if (!m_fields.GetFieldValue("Transfer-Encoding", value)) return false;
    value.trim2();
    return value.equalsIgnoreCase("chunked");
}

bool HttpResponseHeader::closesConnection() const
{
    StringBuffer value;
    if (!m_fields.GetFieldValue("Connection", value)) return false;
    value.trim2();
    return value.equalsIgnoreCase("close");
}

}  // namespace hanamail
