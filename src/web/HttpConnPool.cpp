#include "web/HttpConnPool.h"

#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "web/HttpClient.h"
#include "web/HttpUrl.h"

namespace hanamail {

namespace {

bool hasText(const char* s)
{
    return s && *s;
}

}  // namespace

HttpConnPool::~HttpConnPool()
{
    m_clients.removeAllObjects();
}

void HttpConnPool::setTimeoutsS(uint32_t connectS, uint32_t readS)
{
    m_connectTimeoutS = connectS;
    m_readTimeoutS = readS;
}

HttpClient* HttpConnPool::getClient(const char* host, int32_t port, bool secure, const char* proxy, const char* login,
                                    const char* password, LogBase& log)
{
    const bool viaProxy = hasText(proxy);
    for (int32_t i = 0; i < m_clients.getSize(); ++i) {
        HttpClient* c = static_cast<HttpClient*>(m_clients.get(i));
        if (viaProxy) {
            if (!c->hasProxy()) continue;
            StringBuffer joined;
            joined << c->proxyHost() << ':' << c->proxyPort();
            if (joined.equalsIgnoreCase(proxy)) return c;
        } else if (!c->hasProxy() && c->connectedPort() == port && c->connectedSecure() == secure &&
                   c->connectedHost().equalsIgnoreCase(host)) {
            return c;
        }
    }
    HttpClient* c = new HttpClient();
    c->setConnectTimeoutS(m_connectTimeoutS);
    c->setReadTimeoutS(m_readTimeoutS);
    c->setTls(m_tls);
    c->setAddressFamily(m_family);
    if (login && password) c->setCredentials(login, password, host, port, secure);
    if (viaProxy) c->setProxy(proxy);
    const bool connected =
        viaProxy ? c->connect(c->proxyHost().getString(), c->proxyPort(), log) : c->connect(host, port, log, secure);
    if (!connected || m_clients.append(c) < 0) {
        delete c;
        return nullptr;
    }
    return c;
}

bool HttpConnPool::fetch(const char* url, const char* proxy, const char* login, const char* password, DataBuffer& body,
                         StringBuffer& charset, LogBase& log, HttpResponseHeader* response)
{
    body.clear();
    charset.clear();
    StringBuffer clean, host, urlLogin, urlPassword, path, query;
    HttpUrl::sanitise(url, clean);
    int32_t port = HttpUrl::kDefaultPort;
    if (!url || !HttpUrl::splitForRequest(clean.getString(), host, port, urlLogin, urlPassword, path, query)) {
        HttpUrl::logBadUrl(clean.getString(), log);
        return false;
    }
    const bool secure = HttpUrl::isHttps(clean.getString());
    if (!m_fetched) {
        m_fetched = true;
        m_firstHost = host.getString();
        m_firstPort = port;
        m_firstSecure = secure;
    }
    const char* useLogin = nullptr;
    const char* usePassword = nullptr;
    if (!urlLogin.isEmpty() && !urlPassword.isEmpty()) {
        useLogin = urlLogin.getString();
        usePassword = urlPassword.getString();
    } else if (hasText(login) && hasText(password) && port == m_firstPort && secure == m_firstSecure &&
               host.equalsIgnoreCase(m_firstHost.getString())) {
        useLogin = login;
        usePassword = password;
    }
    HttpClient* client = getClient(host.getString(), port, secure, proxy, useLogin, usePassword, log);
    urlLogin.secureClear();
    urlPassword.secureClear();
    if (!client) return false;
    return client->fetchWithCharset(clean.getString(), body, charset, log, response);
}

}  // namespace hanamail
