#include "web/CaptureText.h"

namespace hanamail {

std::string CaptureText::lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

size_t CaptureText::findNoCase(std::string_view s, std::string_view needle, size_t from)
{
    if (needle.empty()) return from <= s.size() ? from : std::string_view::npos;
    const char first = lower(needle[0]);
    for (size_t i = from; i + needle.size() <= s.size(); ++i) {
        if (lower(s[i]) != first) continue;
        size_t k = 1;
        while (k < needle.size() && lower(s[i + k]) == lower(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool CaptureText::startsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && findNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

bool CaptureText::endsWithNoCase(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && startsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

int CaptureText::replaceAll(std::string& s, std::string_view find, std::string_view repl)
{
    if (find.empty()) return 0;
    size_t at = s.find(find);
    if (at == std::string::npos) return 0;
    std::string out;
    out.reserve(s.size());
    size_t from = 0;
    int n = 0;
    while (at != std::string::npos) {
        out.append(s, from, at - from);
        out.append(repl);
        from = at + find.size();
        ++n;
        at = s.find(find, from);
    }
    out.append(s, from, std::string::npos);
    s.swap(out);
    return n;
}

bool CaptureText::replaceFirst(std::string& s, std::string_view find, std::string_view repl)
{
    const size_t at = s.find(find);
    if (at == std::string::npos || find.empty()) return false;
    s.replace(at, find.size(), repl);
    return true;
}

size_t CaptureText::tagEnd(std::string_view s, size_t from)
{
    char quote = 0;
    bool afterEquals = false;
    for (size_t i = from; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '>') return i + 1;
        if ((c == '"' || c == '\'') && afterEquals) {
            quote = c;
            afterEquals = false;
            continue;
        }
        if (c == '=') {
            afterEquals = true;
        } else if (!isSpace(c)) {
            afterEquals = false;
        }
    }
    return std::string_view::npos;
}

std::string CaptureText::forAttribute(std::string_view url, char quote)
{
    std::string out;
    for (char c : url) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == quote && quote == '"') {
            out += "%22";
        } else if (c == quote && quote == '\'') {
            out += "%27";
        } else {
            out += c;
        }
    }
    return out;
}

std::string CaptureText::decodeAmpersands(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            const std::string_view rest = s.substr(i);
            if (startsWithNoCase(rest, "&amp;")) {
                out += '&';
                i += 4;
                continue;
            }
            if (rest.substr(0, 6) == "&#038;") {
                out += '&';
                i += 5;
                continue;
            }
            if (rest.substr(0, 5) == "&#38;") {
                out += '&';
                i += 4;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

}  // namespace hanamail
