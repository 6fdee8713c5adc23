#include "web/HttpClient.h"

#include <cstring>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "web/HttpLimits.h"
#include "web/HttpResponseHeader.h"
#include "web/HttpUrl.h"
#include "web/UrlReference.h"

namespace hanamail {

namespace {

constexpr int32_t kLoggedBlockBytes = 500;
constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

// The start of a header block that is no HTTP response.
void logReceived(const DataBuffer& block, LogBase& log)
{
    StringBuffer shown;
    const uint32_t n = block.getSize() < uint32_t(kLoggedBlockBytes) ? block.getSize() : kLoggedBlockBytes;
    (void)shown.appendN(reinterpret_cast<const char*>(block.getData()), static_cast<int32_t>(n));
    log.logData("received", shown.getString());
}

struct UrlParts {
    StringBuffer host, login, password, path, query;
    int32_t port = HttpUrl::kDefaultPort;
    bool secure = false;

    // A URL that a GET can be sent for: http(s) or no scheme, and a host.
    bool read(const StringBuffer& url)
    {
        secure = HttpUrl::isHttps(url.getString());
        const bool ok = HttpUrl::splitForRequest(url.getString(), host, port, login, password, path, query);
        login.secureClear();
        password.secureClear();
        return ok;
    }
};

bool hasHttpScheme(const StringBuffer& url)
{
    StringBuffer head;
    (void)head.appendN(url.getString(), url.getSize() < 8 ? url.getSize() : 8);
    head.toLowerCase();
    return head.beginsWith("http://") || head.beginsWith("https://");
}

// The name a server's certificate must carry: the host without the
// brackets of an IPv6 literal.
StringBuffer certificateName(const char* host)
{
    StringBuffer name(host);
    if (name.getSize() > 2 && name.getString()[0] == '[' && name.lastChar() == ']') {
        StringBuffer inner;
        (void)inner.appendN(name.getString() + 1, name.getSize() - 2);
        return inner;
    }
    return name;
}

bool isRedirect(int32_t status)
{
    return status == 301 || status == 302;
}

// The statuses whose body the client reads: what a caller may want to keep.
// 204 has none, and an error page only counts when it says how long it is.
bool wantsBody(const HttpResponseHeader& r)
{
    const int32_t s = r.statusCode();
    if (s == 301 || s == 302 || s == 303 || s == 307) return true;
    if (s >= 200 && s <= 299) return s != 204;
    return s >= 400 && r.contentLength() != 0;
}

// A body left unread would be taken for the next response's header.
bool hasUnreadBody(const HttpResponseHeader& r)
{
    return r.isChunked() || r.contentLength() != 0 || r.badContentLength();
}

}  // namespace

HttpClient::HttpClient()
    : m_connectedPort(HttpUrl::kDefaultPort),
      m_connectTimeoutS(kDefaultTimeoutS),
      m_readTimeoutS(kDefaultTimeoutS),
      m_proxyPort(HttpUrl::kDefaultPort),
      m_authPort(HttpUrl::kDefaultPort)
{
}

HttpClient::~HttpClient()
{
    m_login.secureClear();
    m_password.secureClear();
}

void HttpClient::setCredentials(const char* login, const char* password, const char* host, int32_t port, bool secure)
{
    m_login.secureClear();
    m_password.secureClear();
    if (!login || !password) return;
    m_login = login;
    m_password = password;
    m_authHost = host ? host : "";
    m_authPort = port;
    m_authSecure = secure;
}

void HttpClient::setProxy(const char* proxy)
{
    m_proxyHost.clear();
    m_proxyPort = HttpUrl::kDefaultPort;
    if (!proxy || !*proxy) return;
    HttpUrl::splitHostPort(proxy, m_proxyHost, m_proxyPort);
    m_proxyHost.trim2();
}

bool HttpClient::openSocket(TembrixSocket& sock, const char* host, int32_t port, LogBase& log)
{
    sock.closeSocket();
    sock.setConnectTimeoutS(m_connectTimeoutS);
    sock.setAddressFamily(m_family);
    const uint64_t readMs = uint64_t(m_readTimeoutS) * 1000;
    sock.setReadTimeoutMs(readMs > kMaxReadTimeoutMs ? kMaxReadTimeoutMs : static_cast<uint32_t>(readMs));
    if (port < 1 || port > 65535) port = HttpUrl::kDefaultPort;
    bool unknownHost = false;
    return sock.connectToHost(host, static_cast<uint16_t>(port), log, unknownHost);
}

bool HttpClient::connect(const char* host, int32_t port, LogBase& log, bool secure)
{
    if (!host) {
        log.logError("hostname is NULL");
        return false;
    }
    m_connectedHost.clear();
    if (!openSocket(m_socket, host, port, log)) return false;
    log.logData("connectedTo", host);
    log.logDataLong("port", port);
    // Nothing is sent to a server whose certificate failed: startTls has
    // closed the socket by then.
    if (secure && !m_socket.startTls(certificateName(host).getString(), m_tls, log)) return false;
    m_connectedHost = host;
    m_connectedPort = port;
    m_connectedSecure = secure;
    return true;
}

// The own socket serves the next request when it is still open to the same
// peer and idle: a socket that has something to read now was closed by the
// server or holds the rest of an earlier answer.
bool HttpClient::ownSocketFits(const StringBuffer& host, int32_t port, bool secure)
{
    if (!m_socket.isConnected()) return false;
    const StringBuffer& peer = hasProxy() ? m_proxyHost : host;
    const int32_t peerPort = hasProxy() ? m_proxyPort : port;
    const bool same = m_connectedHost.equalsIgnoreCase(peer.getString()) && m_connectedPort == peerPort &&
                      m_connectedSecure == (secure && !hasProxy());
    if (same && m_socket.receiveBuffer().getSize() == 0 && !m_socket.isReadable()) return true;
    m_socket.closeSocket();
    return false;
}

bool HttpClient::openFor(TembrixSocket& sock, const StringBuffer& host, int32_t port, bool secure, bool own,
                         LogBase& log)
{
    if (hasProxy() && secure) {
        // The proxy would see the request, credentials and all, in the clear.
        log.logError("HTTPS through a proxy is not supported");
        return false;
    }
    const char* peer = hasProxy() ? m_proxyHost.getString() : host.getString();
    const int32_t peerPort = hasProxy() ? m_proxyPort : port;
    if (own) return connect(peer, peerPort, log, secure);
    if (!openSocket(sock, peer, peerPort, log)) return false;
    return !secure || sock.startTls(certificateName(peer).getString(), m_tls, log);
}

bool HttpClient::sendsAuthorization(const StringBuffer& host, int32_t port, bool secure) const
{
    return hasCredentials() && port == m_authPort && secure == m_authSecure &&
           host.equalsIgnoreCase(m_authHost.getString());
}

void HttpClient::buildRequest(const char* url, StringBuffer& out) const
{
    out.clear();
    StringBuffer clean;
    HttpUrl::sanitise(url, clean);
    UrlParts parts;
    (void)parts.read(clean);
    out << "GET ";
    if (hasProxy()) {
        // The proxy sees the whole URL, but no password in it.
        StringBuffer bare;
        HttpUrl::removeUserInfo(clean.getString(), bare);
        const char* hash = std::strchr(bare.getString(), '#');
        if (hash) bare.shorten(static_cast<int32_t>(std::strlen(hash)));
        HttpUrl::appendEncoded(bare.getString(), out);
    } else {
        HttpUrl::appendEncoded(parts.path.isEmpty() ? "/" : parts.path.getString(), out);
        if (!parts.query.isEmpty()) {
            out << '?';
            HttpUrl::appendEncoded(parts.query.getString(), out);
        }
    }
    out << " HTTP/1.1\r\n";
    out << "Accept: */*\r\n";
    out << "User-Agent: " << kUserAgent << "\r\n";
    if (sendsAuthorization(parts.host, parts.port, parts.secure)) {
        StringBuffer pair, encoded;
        pair << m_login << ':' << m_password;
        ContentCoding coding;
        if (coding.encodeBase64Flat(pair.getString(), static_cast<uint32_t>(pair.getSize()), encoded))
            out << "Authorization: Basic " << encoded << "\r\n";
        pair.secureClear();
        encoded.secureClear();
    }
    out << "Host: " << parts.host << "\r\n";
    out << "\r\n\r\n";
}

bool HttpClient::get(const char* url, HttpResponseHeader& response, DataBuffer& body, LogBase& log, bool reconnect,
                     int attempt, bool persistent)
{
    response.clear();
    body.clear();
    StringBuffer current;
    HttpUrl::sanitise(url, current);
    // "host/page" is a URL too; with its scheme written out, references
    // resolve against it.
    if (!current.isEmpty() && HttpUrl::isHttp(current.getString()) && !hasHttpScheme(current))
        (void)current.prepend("http://");
    if (reconnect && persistent) m_socket.closeSocket();
    for (;;) {
        response.clear();
        UrlParts parts;
        if (!url || !parts.read(current)) {
            HttpUrl::logBadUrl(current.getString(), log);
            return false;
        }
        response.setUrl(current.getString());

        // Retries and redirects go over a connection of their own.
        TembrixSocket fresh;
        TembrixSocket& sock = persistent ? m_socket : fresh;
        const bool reused = persistent && ownSocketFits(parts.host, parts.port, parts.secure);
        if (!reused && !openFor(sock, parts.host, parts.port, parts.secure, persistent, log)) return false;
        if (!sock.isConnected()) {
            log.logError("Socket not connected for HTTP GET");
            return false;
        }

        StringBuffer request;
        buildRequest(current.getString(), request);
        const bool sent = sock.sendBytes(reinterpret_cast<const unsigned char*>(request.getString()),
                                         static_cast<uint32_t>(request.getSize()), log);
        request.secureClear();
        if (!sent) {
            sock.closeSocket();
            // A kept-open connection the server has dropped meanwhile.
            if (reused && attempt < HttpLimits::kMaxAttempts) {
                ++attempt;
                persistent = false;
                continue;
            }
            return false;
        }

        DataBuffer block;
        if (!sock.receiveHeaderBlock(block, log)) {
            sock.closeSocket();
            log.logError("Failed to get response header");
            if (block.getSize() >= HttpLimits::kMaxHeader) {
                log.logData("limit", "header");
                return false;
            }
            if (attempt < HttpLimits::kMaxAttempts) {
                ++attempt;
                persistent = false;
                continue;
            }
            return false;
        }
        response.parse(block.getData(), block.getSize());
        if (response.statusCode() == 0) {
            log.logError("Invalid header received");
            logReceived(block, log);
            sock.closeSocket();
            if (attempt <= HttpLimits::kMaxAttempts) {
                ++attempt;
                persistent = false;
                continue;
            }
            return false;
        }

        if (wantsBody(response)) {
            if (!readBody(sock, response, body, log)) {
                sock.closeSocket();
                return false;
            }
        } else if (hasUnreadBody(response)) {
            sock.closeSocket();
        }
        if (!persistent || response.closesConnection()) sock.closeSocket();

        if (!isRedirect(response.statusCode())) return true;
        if (attempt >= HttpLimits::kMaxAttempts) {
            log.logError("Aborted to avoid infinite redirects.");
            log.logData("limit", "redirects");
            return true;
        }
        StringBuffer location;
        (void)response.fields().GetFieldValue("Location", location);
        StringBuffer cleanLocation;
        HttpUrl::sanitise(location.getString(), cleanLocation);
        if (cleanLocation.isEmpty()) {
            log.logError("Got 301/302 redirect, but no new location.");
            return true;
        }
        StringBuffer next;
        UrlReference::resolve(current.getString(), cleanLocation.getString(), next);
        if (!hasHttpScheme(next)) {
            HttpUrl::logBadUrl(next.getString(), log);
            return false;
        }
        current = next.getString();
        body.clear();
        ++attempt;
        persistent = false;
    }
}

bool HttpClient::fetchWithCharset(const char* url, DataBuffer& body, StringBuffer& charset, LogBase& log,
                                  HttpResponseHeader* response)
{
    charset.clear();
    HttpResponseHeader own;
    HttpResponseHeader& r = response ? *response : own;
    const bool ok = get(url, r, body, log, false, 0, true);
    (void)r.fields().GetFieldParam("Content-Type", "charset", charset);
    charset.trim2();
    return ok;
}

}  // namespace hanamail
