#include <cerrno>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Platform.h"
#include "platform/Socket.h"

namespace hanamail {

namespace platform {

namespace {

int fd(SocketHandle s)
{
    return static_cast<int>(s);
}

// errno to the Winsock number of the same meaning; others pass unchanged.
int winsockNumber(int e)
{
    switch (e) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EAGAIN: return kSockWouldBlock;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK: return kSockWouldBlock;
#endif
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case EPIPE:
        case ECONNRESET: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETIMEDOUT: return kSockTimedOut;
        case ECONNREFUSED: return 10061;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        default: return e;
    }
}

// poll() for one event, again after a signal with the time that is left.
int waitFor(SocketHandle s, short events, uint32_t timeoutMs)
{
    if (s == kInvalidSocket) return -1;
    const uint32_t start = tickCount();
    for (;;) {
        const uint32_t spent = tickCount() - start;
        const uint32_t left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        pollfd p{fd(s), events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left > 0x7FFFFFFFu ? 0x7FFFFFFFu : left));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return rc < 0 ? -1 : 0;
        if (p.revents & POLLNVAL) return -1;
        return 1;
    }
}

SocketHandle streamSocket(int family)
{
    const int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return kInvalidSocket;
    // Commands and replies alternate: a small write held back for an
    // acknowledgement the peer delays would cost every exchange 40 ms.
    const int on = 1;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return static_cast<SocketHandle>(s);
}

ConnectResult connectTo(SocketHandle s, const sockaddr* to, socklen_t length)
{
    int rc;
    do {
        rc = ::connect(fd(s), to, length);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0 || errno == EISCONN) return ConnectResult::Connected;
    if (errno == EINPROGRESS || errno == EALREADY || errno == EAGAIN) return ConnectResult::InProgress;
    return ConnectResult::Failed;
}

}  // namespace

SocketStartup startSockets(bool& ranNow)
{
    // Nothing to start on POSIX; the first caller still learns it was first.
    static std::once_flag once;
    ranNow = false;
    std::call_once(once, [&] { ranNow = true; });
    return SocketStartup{};
}

int lastSocketError()
{
    return winsockNumber(errno);
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
    const int flags = fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return false;
    return fcntl(fd(s), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
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
        errno = EINVAL;
        return ConnectResult::Failed;
    }
    return connectTo(s, reinterpret_cast<const sockaddr*>(a.bytes), static_cast<socklen_t>(a.length));
}

int pendingSocketError(SocketHandle s)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return lastSocketError();
    return err == 0 ? 0 : winsockNumber(err);
}

int waitReadable(SocketHandle s, uint32_t timeoutMs)
{
    return waitFor(s, POLLIN, timeoutMs);
}

int waitWritable(SocketHandle s, uint32_t timeoutMs)
{
    return waitFor(s, POLLOUT, timeoutMs);
}

int64_t sendSome(SocketHandle s, const void* bytes, uint32_t n, uint32_t timeoutMs)
{
    const uint32_t start = tickCount();
    for (;;) {
        const ssize_t rc = ::send(fd(s), bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (rc >= 0) return rc;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        const uint32_t spent = tickCount() - start;
        const int w = spent >= timeoutMs ? 0 : waitFor(s, POLLOUT, timeoutMs - spent);
        if (w < 0) return -1;
        if (w == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

int64_t receiveSome(SocketHandle s, void* dest, uint32_t n)
{
    for (;;) {
        const ssize_t rc = ::recv(fd(s), dest, n, 0);
        if (rc < 0 && errno == EINTR) continue;
        return rc;
    }
}

void closeSocket(SocketHandle s)
{
    if (s == kInvalidSocket) return;
    const int saved = errno;
    ::shutdown(fd(s), SHUT_RDWR);
    ::close(fd(s));
    errno = saved;
}

void shutdownSending(SocketHandle s)
{
    if (s != kInvalidSocket) ::shutdown(fd(s), SHUT_WR);
}

SocketHandle acceptConnection(SocketHandle listener, uint32_t timeoutMs)
{
    if (waitFor(listener, POLLIN, timeoutMs) != 1) return kInvalidSocket;
    int c;
    do {
        c = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    return c < 0 ? kInvalidSocket : static_cast<SocketHandle>(c);
}

bool socketPair(SocketHandle& a, SocketHandle& b)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    a = static_cast<SocketHandle>(sv[0]);
    b = static_cast<SocketHandle>(sv[1]);
    return true;
}

}  // namespace platform

}  // namespace hanamail
