#include "mime/MimeText.h"

#include "foundation/StringBuffer.h"

namespace hanamail {

namespace mimetext {

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = asciiLower(c);
    return r;
}

bool beginsWithNoCase(const char* s, const char* prefix)
{
    if (!s || !prefix) return false;
    for (; *prefix; ++s, ++prefix)
        if (*s == '\0' || asciiLower(*s) != asciiLower(*prefix)) return false;
    return true;
}

bool beginsWithNoCase(const StringBuffer& s, const char* prefix)
{
    return beginsWithNoCase(s.getString(), prefix);
}

bool hasHighBytes(const unsigned char* bytes, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        if (bytes[i] >= 0x80) return true;
    return false;
}

void appendQuoted(StringBuffer& out, const char* value)
{
    out << '"';
    for (const char* p = value; p && *p; ++p) {
        if (*p == '"' || *p == '\\') out << '\\';
        out << *p;
    }
    out << '"';
}

void appendPhraseSafeQ(std::string& out, unsigned char c)
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

}  // namespace mimetext

}  // namespace hanamail
