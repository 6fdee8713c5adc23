#include "web/UrlReference.h"

#include <string>
#include <string_view>

#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

// The five components of a URI reference (RFC 3986 appendix B); a component
// can be absent, which differs from present and empty.
struct Parts {
    std::string scheme, authority, path, query, fragment;
    bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
};

bool isSchemeChar(char c, bool first)
{
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first) return alpha;
    return alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

Parts parse(std::string_view s)
{
    Parts p;
    const size_t colon = s.find_first_of(":/?#");
    if (colon != std::string_view::npos && colon > 0 && s[colon] == ':') {
        bool ok = true;
        for (size_t i = 0; i < colon && ok; ++i) ok = isSchemeChar(s[i], i == 0);
        if (ok) {
            p.hasScheme = true;
            p.scheme = s.substr(0, colon);
            s.remove_prefix(colon + 1);
        }
    }
    if (s.size() >= 2 && s[0] == '/' && s[1] == '/') {
        s.remove_prefix(2);
        const size_t end = s.find_first_of("/?#");
        p.hasAuthority = true;
        p.authority = s.substr(0, end);
        s.remove_prefix(end == std::string_view::npos ? s.size() : end);
    }
    const size_t hash = s.find('#');
    if (hash != std::string_view::npos) {
        p.hasFragment = true;
        p.fragment = s.substr(hash + 1);
        s = s.substr(0, hash);
    }
    const size_t question = s.find('?');
    if (question != std::string_view::npos) {
        p.hasQuery = true;
        p.query = s.substr(question + 1);
        s = s.substr(0, question);
    }
    p.path = s;
    return p;
}

// Section 5.2.4, on a copy.
std::string dotsRemoved(std::string_view in)
{
    std::string out;
    while (!in.empty()) {
        if (in.substr(0, 3) == "../") {
            in.remove_prefix(3);
        } else if (in.substr(0, 2) == "./") {
            in.remove_prefix(2);
        } else if (in.substr(0, 3) == "/./") {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.substr(0, 4) == "/../" || in == "/..") {
            if (in.size() == 3) {
                in = "/";
            } else {
                in.remove_prefix(3);
            }
            const size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            const size_t n = next == std::string_view::npos ? in.size() : next;
            out.append(in.substr(0, n));
            in.remove_prefix(n);
        }
    }
    return out;
}

// Section 5.2.3.
std::string merge(const Parts& base, const std::string& path)
{
    std::string merged;
    if (base.hasAuthority && base.path.empty()) {
        merged = "/";
    } else {
        const size_t slash = base.path.rfind('/');
        if (slash != std::string::npos) merged = base.path.substr(0, slash + 1);
    }
    merged += path;
    return merged;
}

}  // namespace

void UrlReference::removeDotSegments(const char* path, StringBuffer& out)
{
    if (path) out << std::string_view(dotsRemoved(path));
}

void UrlReference::resolve(const char* base, const char* reference, StringBuffer& out)
{
    out.clear();
    const Parts b = parse(base ? base : "");
    const Parts r = parse(reference ? reference : "");
    Parts t;
    if (r.hasScheme) {
        t = r;
        t.path = dotsRemoved(r.path);
    } else {
        if (r.hasAuthority) {
            t.hasAuthority = true;
            t.authority = r.authority;
            t.path = dotsRemoved(r.path);
            t.hasQuery = r.hasQuery;
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.hasQuery = r.hasQuery || b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                t.path = dotsRemoved(r.path[0] == '/' ? r.path : merge(b, r.path));
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
            t.hasAuthority = b.hasAuthority;
            t.authority = b.authority;
        }
        t.hasScheme = b.hasScheme;
        t.scheme = b.scheme;
    }
    t.hasFragment = r.hasFragment;
    t.fragment = r.fragment;

    // Section 5.3.
    if (t.hasScheme) out << std::string_view(t.scheme) << ':';
    if (t.hasAuthority) out << "//" << std::string_view(t.authority);
    out << std::string_view(t.path);
    if (t.hasQuery) out << '?' << std::string_view(t.query);
    if (t.hasFragment) out << '#' << std::string_view(t.fragment);
}

}  // namespace hanamail
