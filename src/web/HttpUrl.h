#pragma once
#include <cstdint>
#include <string_view>

namespace hanamail {

class LogBase;
class StringBuffer;

// The URL handling of the HTTP client: splitting a URL into what a request
// needs, cleaning what a page or a server gave us, and writing URLs into
// the log without their passwords.
class HttpUrl {
public:
    HttpUrl() = delete;

    static constexpr int32_t kDefaultPort = 80;
    static constexpr int32_t kDefaultTlsPort = 443;

    // Splits url into host, port (80, or 443 for "https://", unless a port
    // of 1-65535 is given),
    // login and password (both set only by a "login:password@" user part),
    // path ("/" when there is none) and query (after "?"). A leading
    // "http://", "https://" or "file:///" is skipped; "\" counts as "/"; a
    // drive letter ("C:/dir", "C:\\dir") leaves the host empty. The user part and the
    // host end at the first "/", "?" or "#"; a fragment is dropped. False only
    // for a null url.
    static bool split(const char* url, StringBuffer& host, int32_t& port, StringBuffer& login, StringBuffer& password,
                      StringBuffer& path, StringBuffer& query);

    // "host:port" into host and port (80 unless a port of 1-65535 is
    // given). An IPv6 literal keeps its brackets: "[::1]:8080" gives "[::1]".
    static void splitHostPort(std::string_view authority, StringBuffer& host, int32_t& port,
                              int32_t defaultPort = kDefaultPort);

    // split for a URL a GET can be sent for: isHttp and a valid host.
    static bool splitForRequest(const char* url, StringBuffer& host, int32_t& port, StringBuffer& login,
                                StringBuffer& password, StringBuffer& path, StringBuffer& query);
    // The error of a URL that splitForRequest refused, the URL shown as forLog does.
    static void logBadUrl(const char* url, LogBase& log);

    // A port of 1-65535 in decimal at the start of digits, else 80.
    static int32_t readPort(const char* digits);

    // True for an "https://" URL: fetched over TLS, port 443 by default.
    static bool isHttps(const char* url);

    // True for "http://" and "https://" URLs and for URLs without a scheme
    // ("host/path"); false for any other "scheme://".
    static bool isHttp(const char* url);

    // A copy of url without CR, LF and TAB, and without the white space
    // around it: what browsers do with pasted or attribute-wrapped URLs.
    static void sanitise(const char* url, StringBuffer& out);

    // Letters, digits, "-", ".", "[", "]" and ":" only, and not empty.
    static bool isValidHost(const char* host);

    // Appends text with every byte at or below 0x20 and at or above 0x7F
    // percent-encoded, so a request line carries no space or control byte.
    static void appendEncoded(const char* text, StringBuffer& out);

    // The URL as the log may show it: a password in the user part becomes
    // "***" ("user:***@host").
    static void forLog(const char* url, StringBuffer& out);

    // The URL without its user part ("http://host/..." for
    // "http://user:pw@host/...").
    static void removeUserInfo(const char* url, StringBuffer& out);
};

}  // namespace hanamail
