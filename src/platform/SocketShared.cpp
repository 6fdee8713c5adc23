// The socket calls the POSIX and Winsock interfaces spell alike: the host's
// full name, name lookup and a listening socket on the loopback address.
#ifdef _WIN32
#include <windows.h>
// (after windows.h, which they need)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/HostNameCache.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

namespace hanamail {

namespace platform {

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
using AddressLength = int;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
#endif

NativeSocket native(SocketHandle s)
{
    return static_cast<NativeSocket>(s);
}

std::string canonicalHostName(const std::string& name)
{
    std::string result = name;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found) {
        if (found->ai_canonname && found->ai_canonname[0]) result = found->ai_canonname;
        freeaddrinfo(found);
    }
    return result;
}

// The address's numeric form, without the port; "" when it has none.
std::string numericText(const void* address, uint32_t length)
{
    char text[NI_MAXHOST];
    if (getnameinfo(static_cast<const sockaddr*>(address), static_cast<AddressLength>(length), text, sizeof text,
                    nullptr, 0, NI_NUMERICHOST) != 0)
        return std::string();
    return text;
}

}  // namespace

ResolveResult resolveIpv4(const char* host, uint32_t& address)
{
    in_addr a{};
    if (inet_pton(AF_INET, host, &a) == 1) {
        address = a.s_addr;
        return ResolveResult::Resolved;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return ResolveResult::NotFound;
    ResolveResult r = ResolveResult::NoAddress;
    for (addrinfo* p = found; p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr && p->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
            r = ResolveResult::Resolved;
            break;
        }
    }
    freeaddrinfo(found);
    return r;
}

bool addressFromLiteral(const char* literal, uint16_t port, SocketAddress& out)
{
    if (!literal) return false;
    out = SocketAddress{};
    in_addr a4{};
    in6_addr a6{};
    if (inet_pton(AF_INET, literal, &a4) == 1) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr = a4;
        std::memcpy(out.bytes, &to, sizeof to);
        out.length = sizeof to;
    } else if (inet_pton(AF_INET6, literal, &a6) == 1) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(port);
        to.sin6_addr = a6;
        std::memcpy(out.bytes, &to, sizeof to);
        out.length = sizeof to;
        out.ipv6 = true;
    } else {
        return false;
    }
    out.text = numericText(out.bytes, out.length);
    return true;
}

ResolveResult resolveHost(const char* host, uint16_t port, AddressFamily family, std::vector<SocketAddress>& out)
{
    out.clear();
    if (!host || !*host) return ResolveResult::NotFound;
    addrinfo hints{};
    hints.ai_family = family == AddressFamily::Ipv4 ? AF_INET : family == AddressFamily::Ipv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return ResolveResult::NotFound;
    for (addrinfo* p = found; p; p = p->ai_next) {
        if (!p->ai_addr) continue;
        SocketAddress a;
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in to;
            std::memcpy(&to, p->ai_addr, sizeof to);
            to.sin_port = htons(port);
            std::memcpy(a.bytes, &to, sizeof to);
            a.length = sizeof to;
        } else if (p->ai_family == AF_INET6 && p->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 to;
            std::memcpy(&to, p->ai_addr, sizeof to);
            to.sin6_port = htons(port);
            std::memcpy(a.bytes, &to, sizeof to);
            a.length = sizeof to;
            a.ipv6 = true;
        } else {
            continue;
        }
        a.text = numericText(a.bytes, a.length);
        bool seen = false;
        for (const SocketAddress& b : out)
            seen = seen || (b.length == a.length && std::memcmp(b.bytes, a.bytes, a.length) == 0);
        if (!seen) out.push_back(a);
    }
    freeaddrinfo(found);
    return out.empty() ? ResolveResult::NoAddress : ResolveResult::Resolved;
}

std::string addressWithPort(const SocketAddress& a)
{
    uint16_t port = 0;
    if (a.length >= sizeof(sockaddr_in)) {
        uint16_t net;
        // sin_port and sin6_port sit at the same offset.
        std::memcpy(&net, a.bytes + offsetof(sockaddr_in, sin_port), sizeof net);
        port = ntohs(net);
    }
    return (a.ipv6 ? "[" + a.text + "]" : a.text) + ":" + std::to_string(port);
}

std::string localAddressLiteral(SocketHandle s)
{
    if (s == kInvalidSocket) return std::string();
    sockaddr_storage own{};
    AddressLength len = sizeof own;
    if (getsockname(native(s), reinterpret_cast<sockaddr*>(&own), &len) != 0) return std::string();
    if (own.ss_family != AF_INET && own.ss_family != AF_INET6) return std::string();
    std::string text = numericText(&own, static_cast<uint32_t>(len));
    // A link-local address's zone ("%eth0") means nothing to the peer.
    const size_t zone = text.find('%');
    if (zone != std::string::npos) text.resize(zone);
    if (text.empty()) return text;
    return own.ss_family == AF_INET6 ? "[IPv6:" + text + "]" : "[" + text + "]";
}

std::string withoutBrackets(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

bool splitHostPort(const std::string& setting, std::string& host, int& port)
{
    port = 0;
    const size_t first = setting.find_first_not_of(" \t\r\n");
    const size_t last = setting.find_last_not_of(" \t\r\n");
    host = first == std::string::npos ? std::string() : setting.substr(first, last - first + 1);
    const size_t colon = host.rfind(':');
    if (colon == std::string::npos) return true;
    if (host.front() == '[') {
        // "[literal]" alone, or "[literal]:port".
        if (host.back() == ']' || colon == 0 || host[colon - 1] != ']') return true;
    } else if (host.find(':') != colon) {
        return true;  // a bare IPv6 literal
    }
    const std::string digits = host.substr(colon + 1);
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || value > 65535) return false;
        value = value * 10 + (c - '0');
    }
    if (digits.empty() || value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    host.resize(colon);
    return true;
}

bool isLoopbackHost(const char* host)
{
    if (!host) return false;
    std::string h;
    int port = 0;
    if (!splitHostPort(host, h, port) || h.empty()) return false;
    h = withoutBrackets(h);
    std::string lower;
    for (char c : h) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    // The socket layer takes this name as 127.0.0.1 (::1 when only IPv6 is
    // allowed) without asking a resolver.
    if (lower == "localhost") return true;
    in_addr a4{};
    if (inet_pton(AF_INET, h.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
    in6_addr a6{};
    if (inet_pton(AF_INET6, h.c_str(), &a6) == 1) {
        static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(&a6, kLoopback, sizeof kLoopback) == 0;
    }
    return false;
}

std::string socketHostName()
{
    char name[500];
    if (gethostname(name, sizeof name) != 0) return std::string();
    name[sizeof name - 1] = '\0';
    if (name[0] == '\0') return std::string();
    static HostNameCache cache;
    std::string result = cache.lookup(name, tickCount(), canonicalHostName);
    if (result.size() > 499) result.resize(499);
    return result;
}

SocketHandle listenLoopback(uint16_t& port)
{
    SocketHandle s = createStreamSocket();
    if (s == kInvalidSocket) return s;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    AddressLength len = sizeof at;
    if (::bind(native(s), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || ::listen(native(s), 16) != 0 ||
        getsockname(native(s), reinterpret_cast<sockaddr*>(&at), &len) != 0) {
        closeSocket(s);
        return kInvalidSocket;
    }
    port = ntohs(at.sin_port);
    return s;
}

SocketHandle listenLoopbackIpv6(uint16_t& port)
{
    SocketAddress at;
    if (!addressFromLiteral("::1", 0, at)) return kInvalidSocket;
    SocketHandle s = createStreamSocketFor(at);
    if (s == kInvalidSocket) return s;
    sockaddr_in6 bound{};
    AddressLength len = sizeof bound;
    if (::bind(native(s), reinterpret_cast<const sockaddr*>(at.bytes), static_cast<AddressLength>(at.length)) != 0 ||
        ::listen(native(s), 16) != 0 || getsockname(native(s), reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        closeSocket(s);
        return kInvalidSocket;
    }
    port = ntohs(bound.sin6_port);
    return s;
}

}  // namespace platform

}  // namespace hanamail
