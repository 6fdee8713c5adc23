#include "web/HttpUrl.h"

#include <string>
#include <string_view>

#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[i]) != lower(prefix[i])) return false;
    return true;
}

// Length of the scheme prefix split skips, 0 when there is none.
size_t skippedPrefix(std::string_view s)
{
    if (startsWithNoCase(s, "http://")) return 7;
    if (startsWithNoCase(s, "https://")) return 8;
    if (startsWithNoCase(s, "file:///")) return 8;
    return 0;
}

// "\\" counts as "/" everywhere in a URL.
std::string withSlashes(std::string_view url)
{
    std::string copy(url);
    for (char& c : copy)
        if (c == '\\') c = '/';
    return copy;
}

bool isScheme(std::string_view s)
{
    for (char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '-' || c == '.';
        if (!ok) return false;
    }
    return !s.empty();
}

// Where the user part and host of text end: the first "/", "?" or "#".
size_t authorityEnd(std::string_view text)
{
    const size_t end = text.find_first_of("/?#");
    return end == std::string_view::npos ? text.size() : end;
}

// The user part of a URL as split finds it: the offsets of its first byte
// and of its "@" within the URL, or false when the URL has none. A scheme
// split does not know ("ftp://") is passed over too.
bool findUserInfo(std::string_view url, size_t& start, size_t& at)
{
    const std::string copy = withSlashes(url);
    const std::string_view s(copy);
    start = skippedPrefix(s);
    if (start == 0) {
        const size_t first = s.find_first_of("/?#");
        if (first != std::string_view::npos && first > 1 && s[first - 1] == ':' && s.substr(first, 2) == "//" &&
            isScheme(s.substr(0, first - 1)))
            start = first + 2;
    }
    const std::string_view rest = s.substr(start);
    const size_t found = rest.substr(0, authorityEnd(rest)).rfind('@');
    if (found == std::string_view::npos) return false;
    at = start + found;
    return true;
}

bool assign(StringBuffer& out, std::string_view s)
{
    out.clear();
    return out.appendN(s.data(), static_cast<int32_t>(s.size()));
}

int32_t portOf(std::string_view digits, int32_t fallback = HttpUrl::kDefaultPort)
{
    int64_t value = 0;
    size_t i = 0;
    for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i) {
        value = value * 10 + (digits[i] - '0');
        if (value > 65535) return fallback;
    }
    if (i == 0 || value < 1) return fallback;
    return static_cast<int32_t>(value);
}

}  // namespace

bool HttpUrl::split(const char* url, StringBuffer& host, int32_t& port, StringBuffer& login, StringBuffer& password,
                    StringBuffer& path, StringBuffer& query)
{
    host.clear();
    login.clear();
    password.clear();
    path.clear();
    query.clear();
    port = kDefaultPort;
    if (!url) return false;
    const int32_t schemePort = isHttps(url) ? kDefaultTlsPort : kDefaultPort;
    port = schemePort;

    const std::string copy = withSlashes(url);
    std::string_view rest(copy);
    rest.remove_prefix(skippedPrefix(rest));

    const size_t userEnd = rest.substr(0, authorityEnd(rest)).rfind('@');
    if (userEnd != std::string_view::npos) {
        const std::string_view user = rest.substr(0, userEnd);
        const size_t colon = user.find(':');
        if (colon != std::string_view::npos) {
            (void)assign(login, user.substr(0, colon));
            (void)assign(password, user.substr(colon + 1));
        }
        rest.remove_prefix(userEnd + 1);
    }

    size_t hostEnd = authorityEnd(rest);
    // "C:/dir" or "C:" alone; "h:8080" is a host and a port.
    const bool driveLetter = rest.size() >= 2 && rest[1] == ':' && (rest.size() == 2 || rest[2] == '/');
    if (driveLetter) {
        // "C:/dir/page.htm": a local path, no host.
        hostEnd = rest.find('/');
        if (hostEnd == std::string_view::npos) hostEnd = rest.size();
    } else {
        splitHostPort(rest.substr(0, hostEnd), host, port, schemePort);
    }

    std::string_view target = rest.substr(hostEnd);
    if (!driveLetter) {
        const size_t hash = target.find('#');
        if (hash != std::string_view::npos) target = target.substr(0, hash);
    }
    const size_t question = target.find('?');
    std::string_view pathPart = target.substr(0, question);
    if (question != std::string_view::npos) (void)assign(query, target.substr(question + 1));
    if (pathPart.empty()) pathPart = "/";
    (void)assign(path, pathPart);
    return true;
}

void HttpUrl::splitHostPort(std::string_view authority, StringBuffer& host, int32_t& port, int32_t defaultPort)
{
    port = defaultPort;
    // An IPv6 literal keeps its brackets: the Host header and the log show
    // it so, and its colons are not the port's.
    size_t colon = authority.find(':');
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close != std::string_view::npos) {
            // Anything but a port after the bracket leaves a host no
            // resolver knows, rather than one cut to look valid.
            const bool portFollows = close + 1 < authority.size() && authority[close + 1] == ':';
            if (!portFollows) {
                (void)assign(host, authority);
                return;
            }
            colon = close + 1;
        }
    }
    if (colon != std::string_view::npos) {
        port = portOf(authority.substr(colon + 1), defaultPort);
        (void)assign(host, authority.substr(0, colon));
    } else {
        (void)assign(host, authority);
    }
}

bool HttpUrl::splitForRequest(const char* url, StringBuffer& host, int32_t& port, StringBuffer& login,
                              StringBuffer& password, StringBuffer& path, StringBuffer& query)
{
    const bool ok = split(url, host, port, login, password, path, query);
    return ok && isHttp(url) && isValidHost(host.getString());
}

void HttpUrl::logBadUrl(const char* url, LogBase& log)
{
    StringBuffer shown;
    forLog(url, shown);
    log.logError("Failed to parse URL");
    log.logData("url", shown.getString());
}

int32_t HttpUrl::readPort(const char* digits)
{
    return digits ? portOf(digits) : kDefaultPort;
}

bool HttpUrl::isHttps(const char* url)
{
    // As split reads it: "\\" counts as "/".
    return url && startsWithNoCase(withSlashes(std::string_view(url).substr(0, 8)), "https://");
}

bool HttpUrl::isHttp(const char* url)
{
    if (!url) return false;
    const std::string_view s(url);
    const size_t scheme = s.find("://");
    if (scheme == std::string_view::npos || s.find_first_of("/?#") < scheme) return true;
    return startsWithNoCase(s, "http://") || startsWithNoCase(s, "https://");
}

void HttpUrl::sanitise(const char* url, StringBuffer& out)
{
    out.clear();
    if (!url) return;
    std::string_view s(url);
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    for (char c : s)
        if (c != '\r' && c != '\n' && c != '\t') out << c;
}

bool HttpUrl::isValidHost(const char* host)
{
    if (!host || !*host) return false;
    for (const char* p = host; *p; ++p) {
        const char c = *p;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.' || c == '[' || c == ']' || c == ':';
        if (!ok) return false;
    }
    return true;
}

void HttpUrl::appendEncoded(const char* text, StringBuffer& out)
{
    static const char kHex[] = "0123456789ABCDEF";
    if (!text) return;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p <= 0x20 || *p >= 0x7F) {
            out << '%' << kHex[*p >> 4] << kHex[*p & 15];
        } else {
            out << static_cast<char>(*p);
        }
    }
}

void HttpUrl::forLog(const char* url, StringBuffer& out)
{
    out.clear();
    if (!url) return;
    const std::string_view s(url);
    size_t start = 0, at = 0;
    if (!findUserInfo(s, start, at)) {
        out << s;
        return;
    }
    const size_t colon = s.substr(start, at - start).find(':');
    if (colon == std::string_view::npos) {
        out << s;
        return;
    }
    out << s.substr(0, start + colon + 1) << "***" << s.substr(at);
}

void HttpUrl::removeUserInfo(const char* url, StringBuffer& out)
{
    out.clear();
    if (!url) return;
    std::string s(url);
    // Until none is left: taking one away can make the rest read as a URL
    // with a user part of its own ("a@http://b:c@d").
    size_t start = 0, at = 0;
    while (findUserInfo(s, start, at)) s.erase(start, at + 1 - start);
    out << std::string_view(s);
}

}  // namespace hanamail
