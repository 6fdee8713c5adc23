#pragma once
#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "platform/Socket.h"
#include "platform/TlsSession.h"

namespace hanamail {

class DataBuffer;
class HttpClient;
class HttpResponseHeader;
class LogBase;

// The open connections of one capture: one client per scheme, host and port
// (or one per proxy), each keeping its connection for the next fetch; an
// "http:" and an "https:" server on one host and port never share one.
class HttpConnPool {
public:
    HttpConnPool() = default;
    HttpConnPool(const HttpConnPool&) = delete;
    HttpConnPool& operator=(const HttpConnPool&) = delete;
    virtual ~HttpConnPool();

    // Fetches url. Login and password come from the URL when it has them;
    // otherwise the defaults are used, but only for the scheme, host and
    // port of the pool's first fetch (the page), so a resource elsewhere,
    // or over "http:" from an "https:" page, never sees them. proxy is "host:port" or empty. response (may be null)
    // gets the final status, header and URL.
    bool fetch(const char* url, const char* proxy, const char* login, const char* password, DataBuffer& body,
               StringBuffer& charset, LogBase& log, HttpResponseHeader* response = nullptr);

    // A connected client for host and port over TLS when secure (or for
    // the proxy, when not null or empty), from the pool or new; null when
    // none could connect.
    HttpClient* getClient(const char* host, int32_t port, bool secure, const char* proxy, const char* login,
                          const char* password, LogBase& log);

    int32_t clientCount() const { return m_clients.getSize(); }
    // For the clients made from now on.
    void setTimeoutsS(uint32_t connectS, uint32_t readS);
    // How the clients made from now on verify "https:" servers.
    void setTls(const platform::TlsSettings& settings) { m_tls = settings; }
    // Which addresses of a host the clients made from now on try.
    void setAddressFamily(platform::AddressFamily family) { m_family = family; }

private:
    ExtPtrArray m_clients;
    bool m_fetched = false;
    StringBuffer m_firstHost;
    int32_t m_firstPort = 0;
    bool m_firstSecure = false;
    platform::TlsSettings m_tls;
    uint32_t m_connectTimeoutS = 10;
    uint32_t m_readTimeoutS = 10;
    platform::AddressFamily m_family = platform::AddressFamily::Any;
};

}  // namespace hanamail
