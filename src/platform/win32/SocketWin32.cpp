#include <windows.h>
// (after windows.h, which they need)
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "platform/Platform.h"
#include "platform/Socket.h"

namespace hanamail {

namespace platform {

namespace {

SOCKET sock(SocketHandle s)
{
    return static_cast<SOCKET>(s);
}

// The versions asked for after 9.9 is refused: 5.1, 5.0, then every minor of
// 4 down to 1 from 9 to 0; major in the low byte.
bool nextVersion(WORD& v)
{
    int major = LOBYTE(v), minor = HIBYTE(v);
    if (major == 9) {
        major = 5;
        minor = 1;
    } else if (minor > 0) {
        --minor;
    } else if (major > 1) {
        --major;
        minor = 9;
    } else {
        return false;
    }
    v = MAKEWORD(major, minor);
    return true;
}

SocketStartup runStartup()
{
    SocketStartup r;
    const WORD first = MAKEWORD(9, 9);
    WORD version = first;
    WSADATA data;
    for (;;) {
        std::memset(&data, 0, sizeof data);
        r.error = WSAStartup(version, &data);
        if (r.error != kSockVersionNotSupported || !nextVersion(version)) break;
    }
    r.ok = r.error == 0;
    r.retried = r.ok && version != first;
    if (r.retried) {
        r.major = LOBYTE(version);
        r.minor = HIBYTE(version);
    }
    return r;
}

// select() for one socket; the time-out in seconds and microseconds.
int selectOne(SocketHandle s, bool forWrite, uint32_t timeoutMs)
{
    if (s == kInvalidSocket) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock(s), &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int rc = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
    return rc == SOCKET_ERROR ? -1 : (rc == 0 ? 0 : 1);
}

SocketHandle streamSocket(int family)
{
    const SOCKET s = ::socket(family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    // Commands and replies alternate: a small write held back for an
    // acknowledgement the peer delays would cost every exchange 40 ms.
    const BOOL on = TRUE;
    (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<SocketHandle>(s);
}

ConnectResult connectTo(SocketHandle s, const sockaddr* to, int length)
{
    if (::connect(sock(s), to, length) == 0) return ConnectResult::Connected;
    const int e = WSAGetLastError();
    if (e == WSAEISCONN) return ConnectResult::Connected;
    if (e == WSAEWOULDBLOCK || e == WSAEALREADY || e == WSAEINVAL) return ConnectResult::InProgress;
    return ConnectResult::Failed;
}

}  // namespace

SocketStartup startSockets(bool& ranNow)
{
    static std::once_flag once;
    static SocketStartup result;
    ranNow = false;
    std::call_once(once, [&] {
        result = runStartup();
        ranNow = true;
    });
    return result;
}

int lastSocketError()
{
    return WSAGetLastError();
}

SocketHandle createStreamSocket()
{
    return streamSocket(AF_INET);
}

SocketHandle createStreamSocketFor(const SocketAddress& a)
{
    return streamSocket(a.ipv6 ? AF_INET6 : AF_INET);
}

bool setNonBlocking(SocketHandle s, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(sock(s), FIONBIO, &mode) == 0;
}

ConnectResult connectIpv4(SocketHandle s, uint32_t address, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    return connectTo(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ConnectResult connectAddress(SocketHandle s, const SocketAddress& a)
{
    if (a.length == 0 || a.length > sizeof a.bytes) {
        WSASetLastError(WSAEINVAL);
        return ConnectResult::Failed;
    }
    return connectTo(s, reinterpret_cast<const sockaddr*>(a.bytes), static_cast<int>(a.length));
}

int pendingSocketError(SocketHandle s)
{
    int err = 0;
    int len = sizeof err;
    if (getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return WSAGetLastError();
    return err;
}

int waitReadable(SocketHandle s, uint32_t timeoutMs)
{
    return selectOne(s, false, timeoutMs);
}

int waitWritable(SocketHandle s, uint32_t timeoutMs)
{
    // A failed non-blocking connect shows in the exception set, not the write set.
    if (s == kInvalidSocket) return -1;
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(sock(s), &wr);
    FD_SET(sock(s), &ex);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int rc = ::select(0, nullptr, &wr, &ex, &tv);
    return rc == SOCKET_ERROR ? -1 : (rc == 0 ? 0 : 1);
}

int64_t sendSome(SocketHandle s, const void* bytes, uint32_t n, uint32_t timeoutMs)
{
    const int w = selectOne(s, true, timeoutMs);
    if (w < 0) return -1;
    if (w == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return -1;
    }
    // select() promised room, but a blocking send may still wait for the rest:
    // the send time-out bounds that wait.
    DWORD ms = timeoutMs;
    setsockopt(sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    const int rc = ::send(sock(s), static_cast<const char*>(bytes), static_cast<int>(n), 0);
    return rc == SOCKET_ERROR ? -1 : rc;
}

int64_t receiveSome(SocketHandle s, void* dest, uint32_t n)
{
    const int rc = ::recv(sock(s), static_cast<char*>(dest), static_cast<int>(n), 0);
    return rc == SOCKET_ERROR ? -1 : rc;
}

void closeSocket(SocketHandle s)
{
    if (s == kInvalidSocket) return;
    const int saved = WSAGetLastError();
    ::shutdown(sock(s), SD_BOTH);
    ::closesocket(sock(s));
    WSASetLastError(saved);
}

void shutdownSending(SocketHandle s)
{
    if (s != kInvalidSocket) ::shutdown(sock(s), SD_SEND);
}

SocketHandle acceptConnection(SocketHandle listener, uint32_t timeoutMs)
{
    if (selectOne(listener, false, timeoutMs) != 1) return kInvalidSocket;
    const SOCKET c = ::accept(sock(listener), nullptr, nullptr);
    return c == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(c);
}

bool socketPair(SocketHandle& a, SocketHandle& b)
{
    bool ranNow;
    if (!startSockets(ranNow).ok) return false;
    uint16_t port = 0;
    const SocketHandle l = listenLoopback(port);
    if (l == kInvalidSocket) return false;
    a = createStreamSocket();
    b = kInvalidSocket;
    uint32_t loopback = htonl(INADDR_LOOPBACK);
    if (a != kInvalidSocket && connectIpv4(a, loopback, port) == ConnectResult::Connected)
        b = acceptConnection(l, 5000);
    ::closesocket(sock(l));
    if (b == kInvalidSocket) {
        closeSocket(a);
        return false;
    }
    return true;
}

}  // namespace platform

}  // namespace hanamail
