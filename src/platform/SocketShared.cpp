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

#include <cstring>
#include <string>

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

bool isLoopbackHost(const char* host)
{
    if (!host) return false;
    std::string h = host;
    const size_t first = h.find_first_not_of(" \t\r\n");
    const size_t last = h.find_last_not_of(" \t\r\n");
    if (first == std::string::npos) return false;
    h = h.substr(first, last - first + 1);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    std::string lower;
    for (char c : h) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    // The socket layer takes this name as 127.0.0.1 without asking a resolver.
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

}  // namespace platform

}  // namespace hanamail
