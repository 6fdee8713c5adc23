#pragma once
// TCP sockets over IPv4 and IPv6. Error codes are the Winsock numbers on both sides
// (POSIX errno values are mapped), so the log texts built from them are the
// same everywhere.
#include <cstdint>
#include <string>
#include <vector>

namespace hanamail {

namespace platform {

// A native socket (descriptor or SOCKET); all bits set means none.
using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle(0);

// Winsock error numbers that callers test for.
constexpr int kSockWouldBlock = 10035;
constexpr int kSockTimedOut = 10060;
constexpr int kSockVersionNotSupported = 10092;

// The outcome of the process's one socket start-up (WSAStartup on Windows,
// nothing to do on POSIX).
struct SocketStartup {
    bool ok = true;
    int error = 0;             // the start-up's error code when not ok
    bool retried = false;      // an older version was asked for and granted
    int major = 0, minor = 0;  // the version granted after a retry
};
// Runs the start-up the first time it is called in the process and keeps it
// until the process ends; ranNow tells the caller that this call ran it.
SocketStartup startSockets(bool& ranNow);

// The calling thread's last socket error as a Winsock number.
int lastSocketError();

enum class ResolveResult { Resolved, NotFound, NoAddress };
// A dotted IPv4 address is taken as it is; otherwise the name is resolved
// (first IPv4 address). address is in network byte order.
ResolveResult resolveIpv4(const char* host, uint32_t& address);

// Which addresses a name may stand for.
enum class AddressFamily { Any, Ipv4, Ipv6 };

// One address of a host with its port, as the system's socket calls take it.
struct SocketAddress {
    bool ipv6 = false;
    uint32_t length = 0;
    // Room for a sockaddr_in6 (28 bytes) with the alignment it needs.
    alignas(8) unsigned char bytes[32] = {};
    // The numeric form: "127.0.0.1", "::1".
    std::string text;
};

// Every address of host (a name, or an IPv4 or IPv6 literal without
// brackets) for the family, in the resolver's order, each with port.
// NotFound when the resolver knows no such name (or it has no address of
// the family asked for).
ResolveResult resolveHost(const char* host, uint16_t port, AddressFamily family, std::vector<SocketAddress>& out);
// The address of an IPv4 or IPv6 literal, or false for anything else.
bool addressFromLiteral(const char* literal, uint16_t port, SocketAddress& out);
// "127.0.0.1:25", "[::1]:25".
std::string addressWithPort(const SocketAddress& a);
// The socket's own address as an SMTP address literal ("[127.0.0.1]",
// "[IPv6:::1]"); "" when it has none of either family.
std::string localAddressLiteral(SocketHandle s);

// A new IPv4 stream socket, or kInvalidSocket (lastSocketError says why).
SocketHandle createStreamSocket();
// A new stream socket of the address's family.
SocketHandle createStreamSocketFor(const SocketAddress& a);
bool setNonBlocking(SocketHandle s, bool on);

enum class ConnectResult { Connected, InProgress, Failed };
// Failed leaves the reason in lastSocketError(); InProgress is the
// would-block answer of a non-blocking socket (and of a repeated call while
// the first is still under way).
ConnectResult connectIpv4(SocketHandle s, uint32_t address, uint16_t port);
ConnectResult connectAddress(SocketHandle s, const SocketAddress& a);
// The pending error of a connect that was under way (SO_ERROR): 0 when connected.
int pendingSocketError(SocketHandle s);

// 1 when ready, 0 on time-out, -1 on error. Readable also reports a peer's
// close or a socket error, as the next receive will tell.
int waitReadable(SocketHandle s, uint32_t timeoutMs);
int waitWritable(SocketHandle s, uint32_t timeoutMs);

// Sends what the socket takes now of up to n bytes, waiting at most timeoutMs
// for room: the count sent, or -1 (lastSocketError(); kSockTimedOut when no
// room came in time). A closed peer never raises a signal.
int64_t sendSome(SocketHandle s, const void* bytes, uint32_t n, uint32_t timeoutMs);
// Receives up to n bytes (blocks): the count, 0 when the peer closed, -1 on error.
int64_t receiveSome(SocketHandle s, void* dest, uint32_t n);
// Shuts down both directions and closes.
void closeSocket(SocketHandle s);
// Ends the sending direction only: the other end reads the end of the
// stream while this end can still receive what it writes.
void shutdownSending(SocketHandle s);

// The host setting without the brackets around an IPv6 literal ("[::1]"
// gives "::1"); other settings as they are.
std::string withoutBrackets(const std::string& host);

// A host setting may carry its port after the last colon: "[::1]:2525",
// "127.0.0.1:2525", "mail.example.com:587"; a bare IPv6 literal ("::1") has
// none. Gives the host part (trimmed, brackets kept) and the port, 0 when
// there is none; false when what follows the colon is not a port (1-65535).
bool splitHostPort(const std::string& setting, std::string& host, int& port);

// Whether the host setting (with or without a port) names this machine's
// loopback without any name being resolved: "localhost", an address of
// 127.0.0.0/8, or ::1 (with or without brackets).
bool isLoopbackHost(const char* host);

// The host's fully qualified name when it resolves, else its short name;
// at most 499 bytes; "" when the system has no name to give.
std::string socketHostName();

// For tests and local peers: a listening socket on 127.0.0.1 with a port the
// system chose (port out), and accepting one connection within timeoutMs.
SocketHandle listenLoopback(uint16_t& port);
// The same on ::1; kInvalidSocket where the system has no IPv6 loopback.
SocketHandle listenLoopbackIpv6(uint16_t& port);
SocketHandle acceptConnection(SocketHandle listener, uint32_t timeoutMs);
// Two connected stream sockets (a local pair on POSIX, loopback TCP on Windows).
bool socketPair(SocketHandle& a, SocketHandle& b);

}  // namespace platform

}  // namespace hanamail
