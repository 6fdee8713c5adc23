#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "platform/TlsSession.h"
#include "smtp/TembrixSocket.h"

namespace hanamail {

class DataBuffer;
class HttpResponseHeader;
class LogBase;

// HTTP/1.1 GET over TCP ("http:") or TLS ("https:"), keeping its connection
// open between fetches from one scheme, host and port. Basic credentials,
// when given, go only to the scheme, host and port they were given for:
// never to a redirect target elsewhere, nor from "https:" to "http:".
class HttpClient : public TembrixObject {
public:
    static constexpr uint32_t kDefaultTimeoutS = 10;
    static constexpr uint32_t kMaxReadTimeoutMs = 500000;

    HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;
    ~HttpClient() override;

    // The credentials and the host and port they belong to; secure when
    // they are for "https:" there.
    void setCredentials(const char* login, const char* password, const char* host, int32_t port, bool secure = false);
    // "host:port" or "host" (port 80); empty for none. Only "http:" URLs are
    // fetched through it.
    void setProxy(const char* proxy);
    // How "https:" servers are verified.
    void setTls(const platform::TlsSettings& settings) { m_tls = settings; }
    void setConnectTimeoutS(uint32_t s) { m_connectTimeoutS = s; }
    void setReadTimeoutS(uint32_t s) { m_readTimeoutS = s; }
    void setAddressFamily(platform::AddressFamily family) { m_family = family; }

    // Over TLS when secure (the certificate checked against host).
    bool connect(const char* host, int32_t port, LogBase& log, bool secure = false);

    // Fetches url into response and body, following 301/302. attempt is the
    // count of tries and redirects already made; persistent uses the
    // client's own kept-open socket for the first try, reconnect drops it
    // first. True for any complete response, whatever its status.
    bool get(const char* url, HttpResponseHeader& response, DataBuffer& body, LogBase& log, bool reconnect = false,
             int attempt = 0, bool persistent = true);
    // get, then the charset parameter of the response's Content-Type ("" for none).
    bool fetchWithCharset(const char* url, DataBuffer& body, StringBuffer& charset, LogBase& log,
                          HttpResponseHeader* response = nullptr);

    const StringBuffer& connectedHost() const { return m_connectedHost; }
    int32_t connectedPort() const { return m_connectedPort; }
    bool connectedSecure() const { return m_connectedSecure; }
    const StringBuffer& proxyHost() const { return m_proxyHost; }
    int32_t proxyPort() const { return m_proxyPort; }
    bool hasProxy() const { return !m_proxyHost.isEmpty(); }
    bool hasCredentials() const { return !m_login.isEmpty() && !m_password.isEmpty(); }

    // The request for url, byte for byte (what get sends).
    void buildRequest(const char* url, StringBuffer& out) const;

protected:
    // Connects sock to host and port with the client's time-outs; a test or
    // a fuzz target may put a socket of its own in place.
    virtual bool openSocket(TembrixSocket& sock, const char* host, int32_t port, LogBase& log);

private:
    bool openFor(TembrixSocket& sock, const StringBuffer& host, int32_t port, bool secure, bool own, LogBase& log);
    bool ownSocketFits(const StringBuffer& host, int32_t port, bool secure);
    bool readBody(TembrixSocket& sock, const HttpResponseHeader& response, DataBuffer& body, LogBase& log);
    bool readChunked(TembrixSocket& sock, DataBuffer& body, LogBase& log);
    bool readTrailer(TembrixSocket& sock, LogBase& log);
    bool sendsAuthorization(const StringBuffer& host, int32_t port, bool secure) const;

    StringBuffer m_connectedHost;
    int32_t m_connectedPort;
    bool m_connectedSecure = false;
    platform::TlsSettings m_tls;
    TembrixSocket m_socket;
    uint32_t m_connectTimeoutS;
    uint32_t m_readTimeoutS;
    platform::AddressFamily m_family = platform::AddressFamily::Any;
    StringBuffer m_proxyHost;
    int32_t m_proxyPort;
    StringBuffer m_login;
    StringBuffer m_password;
    StringBuffer m_authHost;
    int32_t m_authPort;
    bool m_authSecure = false;
};

}  // namespace hanamail
