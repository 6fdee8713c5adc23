#include "smtp/TembrixSocket.h"

#include <cstdio>
#include <string>

#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"

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
        if (name.equalsIgnoreCase("localhost")) name = "127.0.0.1";
        startWinsock(log);

        uint32_t address = 0;
        switch (platform::resolveIpv4(name.getString(), address)) {
            case platform::ResolveResult::Resolved: break;
            case platform::ResolveResult::NotFound:
                unknownHost = true;
                log.logError("Cannot get host by name.");
                log.logData("hostname", name.getString());
                return false;
            case platform::ResolveResult::NoAddress: return false;
        }
        if (!createSocket(log) || !hasSocket()) {
            log.logError("Cannot connect, invalid socket.");
            return false;
        }
        int error = 0;
        if (!connectAttempt(address, port, log, error)) {
            log.logError("Connect function failed.");
            logSocketError(error, log);
            closeSocket();
            return false;
        }
        m_connected = 1;
        m_buffer.clear();
        return true;
    } catch (...) {
        return false;
    }
}

// A blocking connect when there is no connect time-out; otherwise a
// non-blocking one that waits for writability at most twice, after which the
// socket's pending error decides.
bool TembrixSocket::connectAttempt(uint32_t address, uint16_t port, LogBase& log, int& error)
{
    if (m_connectTimeoutS == 0) {
        if (platform::connectIpv4(m_handle, address, port) == platform::ConnectResult::Connected) return true;
        error = platform::lastSocketError();
        return false;
    }
    platform::setNonBlocking(m_handle, true);
    bool connected = false;
    int waits = 0;
    platform::ConnectResult r = platform::connectIpv4(m_handle, address, port);
    for (;;) {
        if (r == platform::ConnectResult::Connected) {
            connected = true;
            break;
        }
        if (r == platform::ConnectResult::Failed) {
            error = platform::lastSocketError();
            break;
        }
        if (waitWritable(m_connectTimeoutS, log)) {
            error = platform::pendingSocketError(m_handle);
            connected = error == 0;
            break;
        }
        if (++waits == 2) {
            logSocketError(platform::kSockWouldBlock, log);
            error = platform::kSockWouldBlock;
            break;
        }
        r = platform::connectIpv4(m_handle, address, port);
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
    if (!session->handshake(m_handle, host ? host : "", settings, timeout)) {
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
