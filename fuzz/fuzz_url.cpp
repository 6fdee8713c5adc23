// A URL and a reference (the input split at its first LF) through the
// split, the cleaning, the log form, reference resolution and the request
// the client would send for them. No password may survive the log form,
// resolution must leave no dot segment it was given to remove, and the
// request must be exactly its own lines, whatever the URL holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/StringBuffer.h"
#include "web/HttpClient.h"
#include "web/HttpUrl.h"
#include "web/UrlReference.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

bool hasDotSegment(std::string_view path)
{
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('/', start);
        const std::string_view seg =
            path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (seg == "." || seg == "..") return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

void checkRequest(const std::string& request, bool withAuthorization)
{
    // Request line, Accept, User-Agent, [Authorization], Host, two empty lines.
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = request.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(request.substr(start, end - start));
        start = end + 2;
    }
    require(start == request.size());
    require(lines.size() == (withAuthorization ? 7u : 6u));
    for (const std::string& line : lines)
        for (char c : line) require(c != '\r' && c != '\n');
    require(lines[lines.size() - 1].empty() && lines[lines.size() - 2].empty());
    const std::string& first = lines[0];
    require(first.compare(0, 4, "GET ") == 0);
    require(first.size() >= 13 && first.compare(first.size() - 9, 9, " HTTP/1.1") == 0);
    for (size_t i = 4; i + 9 < first.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(first[i]);
        require(c > 0x20 && c < 0x7F);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192) return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    for (char& c : input)
        if (c == '\0') c = ' ';
    const size_t lf = input.find('\n');
    const std::string url = input.substr(0, lf);
    const std::string ref = lf == std::string::npos ? std::string() : input.substr(lf + 1);

    StringBuffer clean;
    HttpUrl::sanitise(url.c_str(), clean);
    for (int32_t i = 0; i < clean.getSize(); ++i) {
        const char c = clean.charAt(i);
        require(c != '\r' && c != '\n' && c != '\t');
    }

    StringBuffer host, login, password, path, query;
    int32_t port = 0;
    require(HttpUrl::split(clean.getString(), host, port, login, password, path, query));
    require(port >= 1 && port <= 65535);
    require(path.charAt(0) == '/');

    // Without its user part the URL carries no credentials; the log form
    // keeps no password.
    StringBuffer bare, shown;
    HttpUrl::removeUserInfo(clean.getString(), bare);
    HttpUrl::forLog(clean.getString(), shown);
    {
        StringBuffer h, l, p, pa, q;
        int32_t po = 0;
        require(HttpUrl::split(bare.getString(), h, po, l, p, pa, q));
        require(l.isEmpty() || p.isEmpty());
        require(HttpUrl::split(shown.getString(), h, po, l, p, pa, q));
        if (!password.isEmpty()) require(p.isEmpty() || p.equals("***"));
    }

    // Resolution removes the dot segments of what it merges.
    StringBuffer target;
    UrlReference::resolve("http://a/b/c/d;p?q", ref.c_str(), target);
    {
        std::string_view t(target.getString());
        t = t.substr(0, t.find_first_of("?#"));
        const size_t scheme = t.find("://");
        if (scheme != std::string_view::npos) {
            const size_t pathStart = t.find('/', scheme + 3);
            if (pathStart != std::string_view::npos) require(!hasDotSegment(t.substr(pathStart)));
        }
    }
    StringBuffer noDots;
    UrlReference::removeDotSegments(ref.c_str(), noDots);
    require(!hasDotSegment(noDots.getString()));
    StringBuffer other;
    UrlReference::resolve(clean.getString(), ref.c_str(), other);

    // The request for the URL, with and without credentials that fit it.
    HttpClient client;
    StringBuffer request;
    client.buildRequest(clean.getString(), request);
    checkRequest(request.getString(), false);
    HttpClient withLogin;
    // (credentials belong to a scheme as well as a host and port)
    withLogin.setCredentials("user", "pass", host.getString(), port, HttpUrl::isHttps(clean.getString()));
    withLogin.buildRequest(url.c_str(), request);
    checkRequest(request.getString(), true);
    return 0;
}
