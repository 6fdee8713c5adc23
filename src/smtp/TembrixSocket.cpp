#include "smtp/TembrixSocket.h"

#include <strings.h>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

const char* startupErrorText(int code)
{
    switch (code) {
        case 10091: return "The underlying network subsystem is not ready for network communication.";
        case 10092:
            return "The version of Windows Sockets support requested is not provided by this particular Windows "
                   "Sockets "
                   "implementation.";
        case 10036: return "A blocking Windows Sockets 1.1 operation is in progress.";
        case 10067:
            return "Limit on the number of tasks supported by the Windows Sockets implementation has been reached.";
        case 10014: return "The lpWSAData is not a valid pointer.";
        default: return nullptr;
    }
}

const char* socketErrorText(int code)
{
    switch (code) {
        case 10093: return "WSANOTINITIALISED A successful WSAStartup must occur before using this function.";
        case 10035: return "WSAEWOULDBLOCK The socket would block.";
        case 10050: return "WSAENETDOWN The network subsystem or the associated service provider has failed.";
        case 10047: return "WSAEAFNOSUPPORT The specified address family is not supported.";
        case 10036:
            return "WSAEINPROGRESS A blocking Windows Sockets 1.1 call is in progress, or the service provider is "
                   "still "
                   "processing a callback function.";
        case 10024: return "WSAEMFILE No more socket descriptors are available.";
        case 10055: return "WSAENOBUFS No buffer space is available. The socket cannot be created.";
        case 10043: return "WSAEPROTONOSUPPORT The specified protocol is not supported.";
        case 10041: return "WSAEPROTOTYPE The specified protocol is the wrong type for this socket.";
        case 10044: return "WSAESOCKTNOSUPPORT The specified socket type is not supported in this address family.";
        case 10051: return "WSAENETUNREACH A socket operation was attempted to an unreachable network.";
        case 10060:
            return "WSAETIMEDOUT A connection attempt failed because the connected party did not properly respond "
                   "after "
                   "a period of time, or established connection failed because connected host has failed to respond.";
        case 10061:
            return "WSAECONNREFUSED No connection could be made because the target machine actively refused it.";
        default: return "Unknown socket error";
    }
}

}  // namespace

TembrixSocket::TembrixSocket()
    : m_connected(0),
      m_handle(platform::kInvalidSocket),
      m_readTimeoutMs(kDefaultReadTimeoutMs),
      m_connectTimeoutS(kDefaultConnectTimeoutS),
      m_lastSendError(0)
{
    LogNull quiet;
    startWinsock(quiet);
}

TembrixSocket::~TembrixSocket()
{
    if (hasSocket()) closeSocket();
}

bool TembrixSocket::startWinsock(LogBase& log)
{
    bool ranNow = false;
    const platform::SocketStartup r = platform::startSockets(ranNow);
    if (!ranNow) return true;
    if (r.ok) {
        if (r.retried) {
            char text[64];
            std::snprintf(text, sizeof text, "Using ws2_32.dll version %d,%d", r.major, r.minor);
            log.logData("ws2_32_DLL_Version", text);
        }
        return true;
    }
    if (const char* known = startupErrorText(r.error)) {
        log.logError(known);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "WSAStartup error: 0x%x", static_cast<unsigned>(r.error));
        log.logError(text);
    }
    return false;
}

void TembrixSocket::logSocketError(int code, LogBase& log)
{
    log.logData("SocketError", socketErrorText(code));
}

bool TembrixSocket::createSocket(LogBase& log)
{
    if (!startWinsock(log)) return false;
    if (hasSocket()) closeSocket();
    m_handle = platform::createStreamSocket();
    if (!hasSocket()) {
        logSocketError(platform::lastSocketError(), log);
        return false;
    }
    return true;
}

void TembrixSocket::attach(platform::SocketHandle handle)
{
    if (hasSocket()) closeSocket();
    m_tls.reset();
    m_handle = handle;
    m_connected = hasSocket() ? 1 : 0;
    m_buffer.clear();
}

bool TembrixSocket::connectToHost(const char* host, uint16_t port, LogBase& log, bool& unknownHost)
{
    unknownHost = false;
    try {
        if (!host) return false;
        StringBuffer name(host);
        name.trim2();
        if (name.isEmpty()) return false;
        startWinsock(log);

        // "[::1]" as in a URL; the resolver takes the literal inside.
        const std::string bare = platform::withoutBrackets(name.getString());
        std::vector<platform::SocketAddress> addresses;
        if (strcasecmp(bare.c_str(), "localhost") == 0) {
            // This machine's loopback, without asking a resolver.
            platform::SocketAddress loopback;
            (void)platform::addressFromLiteral(m_family == platform::AddressFamily::Ipv6 ? "::1" : "127.0.0.1", port,
                                               loopback);
            addresses.push_back(loopback);
        } else {
            switch (platform::resolveHost(bare.c_str(), port, m_family, addresses)) {
                case platform::ResolveResult::Resolved: break;
                case platform::ResolveResult::NotFound:
                    unknownHost = true;
                    log.logError("Cannot get host by name.");
                    log.logData("hostname", name.getString());
                    return false;
                case platform::ResolveResult::NoAddress: return false;
            }
        }
        return connectToAddresses(addresses, log);
    } catch (...) {
        return false;
    }
}

// The addresses in turn until one connects. The connect time-out bounds
// them all: each is given an equal share of what is left, so an address
// that never answers leaves time for the ones after it.
bool TembrixSocket::connectToAddresses(const std::vector<platform::SocketAddress>& addresses, LogBase& log)
{
    if (addresses.empty() || !startWinsock(log)) return false;
    const bool several = addresses.size() > 1;
    const uint64_t budgetMs = uint64_t(m_connectTimeoutS) * 1000;
    const uint32_t start = platform::tickCount();
    int error = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const platform::SocketAddress& a = addresses[i];
        uint32_t waitMs = 0;
        if (budgetMs != 0) {
            const uint32_t spent = platform::tickCount() - start;
            const uint64_t left = spent >= budgetMs ? 0 : budgetMs - spent;
            if (left == 0) {
                error = platform::kSockTimedOut;
                break;
            }
            waitMs = static_cast<uint32_t>(left / (addresses.size() - i));
            if (waitMs == 0) waitMs = 1;
        }
        if (hasSocket()) closeSocket();
        m_handle = platform::createStreamSocketFor(a);
        if (!hasSocket()) {
            error = platform::lastSocketError();
            if (!several) {
                logSocketError(error, log);
                log.logError("Cannot connect, invalid socket.");
                return false;
            }
        } else if (connectAttempt(a, waitMs, log, error)) {
            m_connected = 1;
            m_buffer.clear();
            return true;
        } else {
            closeSocket();
        }
        if (several) {
            if (i + 1 < addresses.size()) log.logError("Cannot connect to this address, trying the next.");
            log.logData("address", platform::addressWithPort(a).c_str());
            if (i + 1 < addresses.size()) logSocketError(error, log);
        }
    }
    log.logError("Connect function failed.");
    logSocketError(error, log);
    return false;
}

// A blocking connect when there is no connect time-out; otherwise a
// non-blocking one that waits at most waitMs for writability, after which
// the socket's pending error decides.
bool TembrixSocket::connectAttempt(const platform::SocketAddress& address, uint32_t waitMs, LogBase& log, int& error)
{
    if (m_connectTimeoutS == 0) {
        if (platform::connectAddress(m_handle, address) == platform::ConnectResult::Connected) return true;
        error = platform::lastSocketError();
        return false;
    }
    platform::setNonBlocking(m_handle, true);
    bool connected = false;
    const platform::ConnectResult r = platform::connectAddress(m_handle, address);
    if (r == platform::ConnectResult::Connected) {
        connected = true;
    } else if (r == platform::ConnectResult::Failed) {
        error = platform::lastSocketError();
    } else {
        const int rc = platform::waitWritable(m_handle, waitMs);
        if (rc == 1) {
            error = platform::pendingSocketError(m_handle);
            connected = error == 0;
        } else {
            if (rc == -1) log.logError("select returned a socket error");
            log.logError("socket is not ready for writing");
            logSocketError(platform::kSockWouldBlock, log);
            error = platform::kSockWouldBlock;
        }
    }
    platform::setNonBlocking(m_handle, false);
    return connected;
}

bool TembrixSocket::waitWritable(uint32_t seconds, LogBase& log)
{
    if (!hasSocket()) return false;
    const uint64_t ms = uint64_t(seconds) * 1000;
    const int rc = platform::waitWritable(m_handle, ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ms));
    if (rc == 1) return true;
    if (rc == -1) log.logError("select returned a socket error");
    log.logError("socket is not ready for writing");
    return false;
}

bool TembrixSocket::isReadable()
{
    if (m_tls && m_tls->hasBuffered()) return true;
    return hasSocket() && platform::waitReadable(m_handle, 0) == 1;
}

bool TembrixSocket::startTls(const char* host, const platform::TlsSettings& settings, LogBase& log)
{
    if (!hasSocket() || m_tls) {
        log.logError("TLS handshake failed.");
        return false;
    }
    if (settings.insecure) log.logError("Warning: the server certificate is not verified (insecure).");
    auto session = std::make_unique<platform::TlsSession>();
    const uint32_t timeout = m_readTimeoutMs == 0 ? kDefaultReadTimeoutMs : m_readTimeoutMs;
    // The certificate names an IPv6 address without the URL's brackets.
    const std::string name = platform::withoutBrackets(host ? host : "");
    if (!session->handshake(m_handle, name.c_str(), settings, timeout)) {
        log.logError("TLS handshake failed.");
        switch (session->failure()) {
            case platform::TlsFailure::Untrusted: log.logError("Server certificate not trusted."); break;
            case platform::TlsFailure::NameMismatch: log.logError("Server name does not match the certificate."); break;
            default: break;
        }
        const std::string why = session->errorText();
        if (!why.empty()) log.logData("tls_error", why.c_str());
        // The stream is in an unknown state: nothing more may go over it.
        closeSocket();
        return false;
    }
    log.logData("tls_version", session->version().c_str());
    log.logData("tls_cipher", session->cipher().c_str());
    const std::string peer = "subject: " + session->peerSubject() + "; issuer: " + session->peerIssuer();
    log.logData("peer_certificate", peer.c_str());
    m_tls = std::move(session);
    return true;
}

void TembrixSocket::closeSocket()
{
    if (m_tls) {
        m_tls->shutdown(200);
        m_tls.reset();
    }
    platform::closeSocket(m_handle);
    m_handle = platform::kInvalidSocket;
    m_buffer.clear();
    m_connected = 0;
}

std::string TembrixSocket::localAddressLiteral() const
{
    return platform::localAddressLiteral(m_handle);
}

bool TembrixSocket::getLocalHostName(StringBuffer& out, LogBase& log)
{
    if (!startWinsock(log)) {
        log.logError("WSA startup failed for getting local hostname");
        return false;
    }
    const std::string name = platform::socketHostName();
    out.clear();
    return out.appendN(name.data(), static_cast<int32_t>(name.size()));
}

}  // namespace hanamail
