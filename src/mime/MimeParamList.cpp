#include "mime/MimeParamList.h"
#include "mime/MimeText.h"

#include <map>

#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeHeader.h"

namespace hanamail {

namespace {

using mimetext::isBlank;
using mimetext::lowered;
using mimetext::trimmed;

// More sections than any real value has; a hostile list cannot make the map huge.
constexpr int kMaxSections = 1000;

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string unquoted(std::string_view raw)
{
    StringBuffer v;
    MimeHeader::unquoteParamValue(raw.data(), static_cast<int32_t>(raw.size()), v);
    return std::string(v.getString(), static_cast<size_t>(v.getSize()));
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendPercentDecoded(std::string_view s, std::string& out)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
}

// One "attribute=value" token split at the first "=".
struct Token {
    std::string_view attr;
    std::string_view value;
};

// The tokens of a parameter list: split at ";" outside quotes.
std::vector<Token> tokens(std::string_view list)
{
    std::vector<Token> out;
    size_t start = 0;
    const size_t n = list.size();
    while (start < n) {
        size_t end = start;
        bool quoted = false;
        for (; end < n; ++end) {
            const char c = list[end];
            if (quoted && c == '\\' && end + 1 < n)
                ++end;
            else if (c == '"')
                quoted = !quoted;
            else if (c == ';' && !quoted)
                break;
        }
        if (end > n) end = n;
        const std::string_view token = list.substr(start, end - start);
        const size_t eq = token.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view attr = trimmed(token.substr(0, eq));
            if (!attr.empty()) out.push_back({attr, token.substr(eq + 1)});
        }
        start = end + 1;
    }
    return out;
}

// The sections of one extended parameter.
struct Extended {
    std::map<int, std::pair<bool, std::string_view>> sections;  // number -> (encoded, raw value)
};

}  // namespace

std::string MimeParamList::toUtf8(std::string_view charset, const std::string& bytes)
{
    if (charset.empty() || bytes.empty()) return bytes;
    const std::string name(charset);
    const int cp = charsetToCodePage(name.c_str());
    if (cp == 0 || cp == kUtf8) return bytes;
    DataBuffer out;
    EncodingConvert().convert(cp, kUtf8, bytes.data(), static_cast<uint32_t>(bytes.size()), out);
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

bool MimeParamList::hasExtended(std::string_view list)
{
    for (const Token& t : tokens(list))
        if (t.attr.find('*') != std::string_view::npos) return true;
    return false;
}

std::vector<MimeParamList::Param> MimeParamList::parse(std::string_view list)
{
    std::vector<Param> out;
    std::map<std::string, size_t> index;  // lower-cased name -> position in out
    std::map<std::string, Extended> extended;
    for (const Token& t : tokens(list)) {
        const size_t star = t.attr.find('*');
        const std::string_view base = t.attr.substr(0, star);
        if (base.empty()) continue;
        const std::string key = lowered(base);
        if (index.find(key) == index.end()) {
            index[key] = out.size();
            out.push_back({std::string(base), std::string()});
        }
        if (star == std::string_view::npos) {
            // A plain value only counts while no extended one is known.
            if (extended.find(key) == extended.end()) out[index[key]].value = unquoted(t.value);
            continue;
        }
        // "name*" (one encoded section), "name*N" or "name*N*".
        std::string_view rest = t.attr.substr(star + 1);
        bool encoded = false;
        int number = 0;
        if (rest.empty()) {
            encoded = true;
        } else {
            if (rest.back() == '*') {
                encoded = true;
                rest.remove_suffix(1);
            }
            if (rest.empty() || rest.size() > 4) continue;
            for (char c : rest) {
                if (c < '0' || c > '9') {
                    number = -1;
                    break;
                }
                number = number * 10 + (c - '0');
            }
            if (number < 0 || number >= kMaxSections) continue;
        }
        Extended& e = extended[key];
        e.sections.emplace(number, std::make_pair(encoded, trimmed(t.value)));
    }
    for (auto& [key, e] : extended) {
        std::string bytes;
        std::string charset;
        int expected = 0;
        for (const auto& [number, section] : e.sections) {
            if (number != expected) break;  // a gap ends the value, as sections after it cannot be placed
            ++expected;
            std::string_view raw = section.second;
            if (!section.first) {
                bytes += unquoted(raw);
                continue;
            }
            // Quoted although extended: readers take the text inside.
            const std::string text = (!raw.empty() && raw.front() == '"') ? unquoted(raw) : std::string(raw);
            std::string_view v = text;
            if (number == 0) {
                const size_t q1 = v.find('\'');
                const size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
                if (q2 != std::string_view::npos) {
                    charset = std::string(v.substr(0, q1));
                    v.remove_prefix(q2 + 1);
                }
            }
            appendPercentDecoded(v, bytes);
        }
        if (expected > 0) out[index[key]].value = toUtf8(charset, bytes);
    }
    return out;
}

size_t MimeParamList::mediaTypeEnd(std::string_view value)
{
    size_t i = 0;
    while (i < value.size() && isBlank(value[i])) ++i;
    return value.find_first_of("; \t\r", i);
}

std::string MimeParamList::rewritePlain(std::string_view value, size_t headEnd)
{
    std::string r(trimmed(value.substr(0, headEnd)));
    if (headEnd >= value.size()) return r;
    for (const Param& p : parse(value.substr(headEnd + 1))) {
        r += "; ";
        r += p.name;
        r += "=\"";
        for (char c : p.value) {
            if (c == '"' || c == '\\') r += '\\';
            r += c;
        }
        r += '"';
    }
    return r;
}

}  // namespace hanamail
