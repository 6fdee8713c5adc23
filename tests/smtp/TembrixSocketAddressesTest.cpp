#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Socket.h"
#include "smtp/SocketTestSupport.h"

using namespace hanamail;
using loopback::LoopbackServer;
using loopback::Peer;
using loopback::Stopwatch;
using sockettest::has;
using sockettest::logText;

namespace {

constexpr bool kIpv6 = true;

LoopbackServer::Handler greets()
{
    return [](Peer& p) {
        p.send("220 hi\r\n");
        p.receive(1, 10000);
    };
}

platform::SocketAddress addressOf(const char* literal, uint16_t port)
{
    platform::SocketAddress a;
    EXPECT_TRUE(platform::addressFromLiteral(literal, port, a)) << literal;
    return a;
}

// A loopback port nothing listens on: connecting there is refused at once.
uint16_t closedPort()
{
    LoopbackServer probe([](Peer&) {}, 0);
    return probe.port();
}

bool readsGreeting(TembrixSocket& s, Logger& log)
{
    StringBuffer line;
    return s.receiveUntil(line, "\r\n", 1000, false, log, nullptr) && std::string(line.getString()) == "220 hi\r\n";
}

// A listener on 127.0.0.1 whose queue is full and never accepted: further
// connection requests go unanswered, as to a host that is not there.
class Blackhole {
public:
    Blackhole()
    {
        m_listener = platform::listenLoopback(m_port);
        if (m_listener == platform::kInvalidSocket) return;
        const platform::SocketAddress at = addressOf("127.0.0.1", m_port);
        for (int i = 0; i < 64 && !m_full; ++i) {
            platform::SocketHandle h = platform::createStreamSocket();
            platform::setNonBlocking(h, true);
            platform::connectAddress(h, at);
            m_queued.push_back(h);
            m_full = platform::waitWritable(h, 300) != 1;
        }
    }
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;
    ~Blackhole()
    {
        for (platform::SocketHandle h : m_queued) platform::closeSocket(h);
        platform::closeSocket(m_listener);
    }
    bool full() const { return m_full; }
    platform::SocketAddress address() const { return addressOf("127.0.0.1", m_port); }

private:
    platform::SocketHandle m_listener = platform::kInvalidSocket;
    uint16_t m_port = 0;
    bool m_full = false;
    std::vector<platform::SocketHandle> m_queued;
};

}  // namespace

TEST(SocketAddresses, LiteralsResolveToThemselvesWithThePort)
{
    std::vector<platform::SocketAddress> found;
    ASSERT_EQ(platform::resolveHost("127.0.0.1", 2525, platform::AddressFamily::Any, found),
              platform::ResolveResult::Resolved);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].ipv6);
    EXPECT_EQ(platform::addressWithPort(found[0]), "127.0.0.1:2525");
    ASSERT_EQ(platform::resolveHost("::1", 25, platform::AddressFamily::Ipv6, found),
              platform::ResolveResult::Resolved);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(found[0].ipv6);
    EXPECT_EQ(platform::addressWithPort(found[0]), "[::1]:25");
    // A literal of the other family is no address of the one forced.
    EXPECT_EQ(platform::resolveHost("::1", 25, platform::AddressFamily::Ipv4, found),
              platform::ResolveResult::NotFound);
    EXPECT_EQ(platform::resolveHost("127.0.0.1", 25, platform::AddressFamily::Ipv6, found),
              platform::ResolveResult::NotFound);
    EXPECT_TRUE(found.empty());

    EXPECT_EQ(platform::withoutBrackets("[::1]"), "::1");
    EXPECT_EQ(platform::withoutBrackets("::1"), "::1");
    EXPECT_EQ(platform::withoutBrackets("[::1"), "[::1");
    platform::SocketAddress a;
    EXPECT_FALSE(platform::addressFromLiteral("[::1]", 25, a));
    EXPECT_FALSE(platform::addressFromLiteral("localhost", 25, a));
}

TEST(SocketAddresses, HostSettingsWithAPort)
{
    struct Case {
        const char* setting;
        bool ok;
        const char* host;
        int port;
        bool loopback;
    };
    const Case cases[] = {
        {"[::1]:2525", true, "[::1]", 2525, true},
        {" [::1]:65535 ", true, "[::1]", 65535, true},
        {"[::1]", true, "[::1]", 0, true},
        {"::1", true, "::1", 0, true},
        {"fe80::1:25", true, "fe80::1:25", 0, false},  // bare literal: every colon is its own
        {"127.0.0.1:2525", true, "127.0.0.1", 2525, true},
        {"localhost:587", true, "localhost", 587, true},
        {"mail.example.com:587", true, "mail.example.com", 587, false},
        {"mail.example.com", true, "mail.example.com", 0, false},
        {"[::1]:", false, "", 0, false},
        {"[::1]:0", false, "", 0, false},
        {"[::1]:65536", false, "", 0, false},
        {"127.0.0.1:99999999999999999999", false, "", 0, false},
        {"127.0.0.1:25x", false, "", 0, false},
        {"127.0.0.1:-1", false, "", 0, false},
    };
    for (const Case& c : cases) {
        std::string host;
        int port = -1;
        EXPECT_EQ(platform::splitHostPort(c.setting, host, port), c.ok) << c.setting;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.setting;
            EXPECT_EQ(port, c.port) << c.setting;
        }
        EXPECT_EQ(platform::isLoopbackHost(c.setting), c.loopback) << c.setting;
    }
}

TEST(SocketAddresses, Ipv6LiteralWithOrWithoutBracketsConnects)
{
    LoopbackServer server(greets(), 3, 10000, kIpv6);
    if (!server.listening()) GTEST_SKIP() << "this system has no IPv6 loopback";
    for (const char* host : {"::1", "[::1]", " [::1] "}) {
        TembrixSocket s;
        Logger log;
        bool unknown = true;
        ASSERT_TRUE(s.connectToHost(host, server.port(), log, unknown)) << host << logText(log);
        EXPECT_FALSE(unknown);
        EXPECT_TRUE(readsGreeting(s, log)) << host;
        EXPECT_EQ(s.localAddressLiteral(), "[IPv6:::1]");
    }
}

TEST(SocketAddresses, ForcedFamilyDecidesWhatLocalhostAndLiteralsReach)
{
    LoopbackServer server(greets(), 1, 10000, kIpv6);
    if (!server.listening()) GTEST_SKIP() << "this system has no IPv6 loopback";
    TembrixSocket s;
    s.setAddressFamily(platform::AddressFamily::Ipv6);
    Logger log;
    bool unknown = true;
    ASSERT_TRUE(s.connectToHost("localhost", server.port(), log, unknown)) << logText(log);
    EXPECT_TRUE(readsGreeting(s, log));

    TembrixSocket v4;
    v4.setAddressFamily(platform::AddressFamily::Ipv4);
    Logger log4;
    EXPECT_FALSE(v4.connectToHost("[::1]", server.port(), log4, unknown));
    EXPECT_TRUE(unknown);
    EXPECT_TRUE(has(log4, "Cannot get host by name.")) << logText(log4);
    EXPECT_TRUE(has(log4, "[::1]"));
}

TEST(SocketAddresses, RefusedFirstAddressIsLoggedAndTheNextConnects)
{
    LoopbackServer server(greets());
    const uint16_t refused = closedPort();
    TembrixSocket s;
    Logger log;
    const std::vector<platform::SocketAddress> list = {addressOf("127.0.0.1", refused),
                                                       addressOf("127.0.0.1", server.port())};
    ASSERT_TRUE(s.connectToAddresses(list, log)) << logText(log);
    EXPECT_TRUE(readsGreeting(s, log));
    EXPECT_EQ(s.localAddressLiteral(), "[127.0.0.1]");
    EXPECT_TRUE(has(log, "Cannot connect to this address, trying the next.")) << logText(log);
    EXPECT_TRUE(has(log, "127.0.0.1:" + std::to_string(refused)));
    EXPECT_TRUE(has(log, "WSAECONNREFUSED"));
    EXPECT_FALSE(has(log, "Connect function failed."));
}

TEST(SocketAddresses, UnansweredFirstAddressLeavesTimeForTheNext)
{
    Blackhole hole;
    if (!hole.full()) GTEST_SKIP() << "this system accepts every connection request on a full queue";
    LoopbackServer server(greets());
    TembrixSocket s;
    s.setConnectTimeoutS(2);
    Logger log;
    Stopwatch w;
    ASSERT_TRUE(s.connectToAddresses({hole.address(), addressOf("127.0.0.1", server.port())}, log)) << logText(log);
    EXPECT_LT(w.ms(), 2000);
    EXPECT_TRUE(readsGreeting(s, log));
    EXPECT_TRUE(has(log, "socket is not ready for writing")) << logText(log);
    EXPECT_TRUE(has(log, "Cannot connect to this address, trying the next."));
}

TEST(SocketAddresses, TheConnectTimeOutBoundsAllAttemptsTogether)
{
    Blackhole hole;
    if (!hole.full()) GTEST_SKIP() << "this system accepts every connection request on a full queue";
    const uint16_t refused = closedPort();
    TembrixSocket s;
    s.setConnectTimeoutS(1);
    Logger log;
    Stopwatch w;
    EXPECT_FALSE(
        s.connectToAddresses({hole.address(), hole.address(), hole.address(), addressOf("127.0.0.1", refused)}, log));
    EXPECT_GE(w.ms(), 700);
    EXPECT_LT(w.ms(), 1800);
    EXPECT_FALSE(s.hasSocket());
    // Every address is named, the last failure ends the log as a single one would.
    const std::string text = logText(log);
    EXPECT_NE(text.find("127.0.0.1:" + std::to_string(refused)), std::string::npos) << text;
    const size_t end = text.rfind("Connect function failed.");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(text.find("Connect function failed."), end);
    EXPECT_NE(text.find("WSAECONNREFUSED", end), std::string::npos);
}

TEST(SocketAddresses, EmptyListFailsWithoutASocket)
{
    TembrixSocket s;
    Logger log;
    EXPECT_FALSE(s.connectToAddresses({}, log));
    EXPECT_FALSE(s.hasSocket());
}
