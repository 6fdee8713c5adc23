#include "web/CaptureUrl.h"

#include <vector>

#include "web/CaptureText.h"

namespace hanamail {

namespace {

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The path of an http URL: after the host, before "?" and "#".
std::string_view pathOf(std::string_view url)
{
    size_t start = 0;
    const size_t scheme = url.find("://");
    if (scheme != std::string_view::npos && scheme < url.find_first_of("/?#")) {
        start = url.find('/', scheme + 3);
        if (start == std::string_view::npos) return {};
    }
    std::string_view p = url.substr(start);
    const size_t end = p.find_first_of("?#");
    return end == std::string_view::npos ? p : p.substr(0, end);
}

}  // namespace

bool CaptureUrl::isHttp(std::string_view url)
{
    return CaptureText::startsWithNoCase(url, "http://") || CaptureText::startsWithNoCase(url, "https://");
}

bool CaptureUrl::looksLikeUrl(std::string_view arg)
{
    return CaptureText::startsWithNoCase(arg, "http:") || CaptureText::startsWithNoCase(arg, "https:");
}

bool CaptureUrl::isLocalForm(std::string_view ref)
{
    if (CaptureText::startsWithNoCase(ref, "file:")) return true;
    if (ref.size() >= 2 && isAlpha(ref[0]) && (ref[1] == ':' || ref[1] == '|') &&
        (ref.size() == 2 || ref[2] == '/' || ref[2] == '\\'))
        return true;
    if (ref.size() >= 2 && (ref.substr(0, 2) == "\\\\")) return true;
    if (isHttp(ref)) return false;
    return ref.find(":/") != std::string_view::npos || ref.find(":\\") != std::string_view::npos;
}

bool CaptureUrl::isInert(std::string_view ref)
{
    static const char* const kSchemes[] = {"data:", "cid:", "mid:", "javascript:", "mailto:", "about:"};
    for (const char* s : kSchemes)
        if (CaptureText::startsWithNoCase(ref, s)) return true;
    return false;
}

std::string CaptureUrl::localPath(std::string_view ref)
{
    std::string s(ref);
    for (char& c : s)
        if (c == '\\') c = '/';
    std::string_view v(s);
    if (CaptureText::startsWithNoCase(v, "file:")) {
        v.remove_prefix(5);
        // "file://host/path": only the local host is ours.
        if (v.substr(0, 2) == "//" && v.substr(0, 3) != "///") {
            v.remove_prefix(2);
            if (CaptureText::startsWithNoCase(v, "localhost/")) v.remove_prefix(9);
        }
        while (v.substr(0, 2) == "//") v.remove_prefix(1);
        // "/C:/x" is the drive path "C:/x".
        if (v.size() >= 3 && v[0] == '/' && isAlpha(v[1]) && (v[2] == ':' || v[2] == '|')) v.remove_prefix(1);
    }
    std::string out = percentDecoded(v);
    if (out.size() >= 2 && isAlpha(out[0]) && out[1] == '|') out[1] = ':';
    return out;
}

std::string CaptureUrl::localDirectory(std::string_view path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string CaptureUrl::joinLocal(std::string_view fromPath, std::string_view ref)
{
    if (ref.empty() || ref[0] == '/' || ref[0] == '\\' || isLocalForm(ref) || isHttp(ref)) return std::string(ref);
    std::string joined = localDirectory(fromPath);
    joined.append(ref);
    // "dir/../x" and "./x" folded; a ".." that climbs above the start stays.
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t slash = joined.find('/', from);
        const std::string seg = joined.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        const bool last = slash == std::string::npos;
        if (seg == "." && !last) {
            // dropped
        } else if (seg == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
        } else {
            parts.push_back(seg);
        }
        if (last) break;
        from = slash + 1;
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

std::string CaptureUrl::cutImageQuery(std::string_view url)
{
    static const char* const kImages[] = {".gif?", ".jpg?", ".png?"};
    for (const char* e : kImages) {
        const size_t at = CaptureText::findNoCase(url, e);
        if (at != std::string_view::npos) return std::string(url.substr(0, at + 4));
    }
    return std::string(url);
}

std::string CaptureUrl::fileName(std::string_view url)
{
    const std::string_view p = pathOf(url);
    const size_t slash = p.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string CaptureUrl::extension(std::string_view url, bool& hasDot, bool& slashEnd)
{
    const std::string_view p = pathOf(url);
    slashEnd = !p.empty() && p.back() == '/';
    const std::string name = fileName(url);
    const size_t dot = name.rfind('.');
    hasDot = dot != std::string::npos;
    return hasDot ? CaptureText::lowered(std::string_view(name).substr(dot + 1)) : std::string();
}

bool CaptureUrl::isHtmlPage(std::string_view url)
{
    const std::string_view p = pathOf(url);
    static const char* const kPages[] = {".htm", ".asp", ".jsp", ".php"};
    for (const char* e : kPages)
        if (CaptureText::findNoCase(p, e) != std::string_view::npos) return true;
    return false;
}

void CaptureUrl::rootAndBase(std::string_view url, std::string& root, std::string& base)
{
    std::string u(url.substr(0, url.find_first_of("?#")));
    const size_t scheme = u.find("://");
    const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t pathStart = u.find('/', hostStart);
    root = pathStart == std::string::npos ? u : u.substr(0, pathStart);
    const size_t last = u.rfind('/');
    base = (last == std::string::npos || last < hostStart) ? u : u.substr(0, last);
}

std::string CaptureUrl::withoutFragment(std::string_view url)
{
    return std::string(url.substr(0, url.find('#')));
}

}  // namespace hanamail
