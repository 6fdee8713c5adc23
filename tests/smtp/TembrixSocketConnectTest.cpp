#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "smtp/SocketTestSupport.h"

using namespace hanamail;
using loopback::LoopbackServer;
using loopback::Peer;
using loopback::Stopwatch;
using sockettest::connectTo;
using sockettest::has;
using sockettest::logText;

namespace {

LoopbackServer::Handler greets()
{
    return [](Peer& p) {
        p.send("220 hi\r\n");
        p.receive(1, 10000);
    };
}

TEST(SocketConnect, LocalhostInCapitalsReachesTheLoopback)
{
    LoopbackServer server(greets());
    TembrixSocket s;
    Logger log;
    bool unknown = true;
    ASSERT_TRUE(s.connectToHost(" LOCALHOST ", server.port(), log, unknown)) << logText(log);
    EXPECT_FALSE(unknown);
    EXPECT_TRUE(s.isConnected());
    StringBuffer line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "220 hi\r\n");
    s.closeSocket();
    EXPECT_FALSE(s.isConnected());
    EXPECT_FALSE(s.hasSocket());
    EXPECT_FALSE(s.isReadable());
}

TEST(SocketConnect, UnknownNameSetsTheFlagAndLogsIt)
{
    TembrixSocket s;
    Logger log;
    bool unknown = false;
    EXPECT_FALSE(s.connectToHost("no-such-host.invalid", 25, log, unknown));
    EXPECT_TRUE(unknown);
    EXPECT_TRUE(has(log, "Cannot get host by name."));
    EXPECT_TRUE(has(log, "no-such-host.invalid"));
}

TEST(SocketConnect, MissingOrBlankHostFailsAtOnce)
{
    TembrixSocket s;
    Logger log;
    bool unknown = true;
    EXPECT_FALSE(s.connectToHost(nullptr, 25, log, unknown));
    EXPECT_FALSE(unknown);
    EXPECT_FALSE(s.connectToHost(" \t ", 25, log, unknown));
    EXPECT_FALSE(s.hasSocket());
}

TEST(SocketConnect, ClosedPortFailsAtOnceWithTheRefusal)
{
    uint16_t port = 0;
    {
        LoopbackServer probe([](Peer&) {}, 0);
        port = probe.port();
    }  // closed again: nothing listens there now
    for (uint32_t timeoutS : {7u, 0u}) {
        TembrixSocket s;
        s.setConnectTimeoutS(timeoutS);
        Logger log;
        bool unknown = true;
        Stopwatch w;
        EXPECT_FALSE(s.connectToHost("127.0.0.1", port, log, unknown));
        EXPECT_LT(w.ms(), 2000);
        EXPECT_FALSE(unknown);
        EXPECT_TRUE(has(log, "Connect function failed.")) << logText(log);
        EXPECT_TRUE(has(log, "WSAECONNREFUSED")) << logText(log);
        EXPECT_FALSE(s.isConnected());
        EXPECT_FALSE(s.hasSocket());
    }
}

TEST(SocketConnect, ReconnectingReplacesTheOldConnection)
{
    LoopbackServer server(greets(), 2);
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "220 hi\r\n");
}

TEST(SocketConnect, WorksWithDescriptorsAbove1023)
{
#ifndef _WIN32
    // Descriptors beyond 1023 are what select() could not watch.
    ASSERT_TRUE(sockettest::allowDescriptors(1300)) << "cannot raise the descriptor limit";
#endif
    std::vector<platform::SocketHandle> filler;
    for (int i = 0; i < 1100; ++i) {
        platform::SocketHandle h = platform::createStreamSocket();
        ASSERT_NE(h, platform::kInvalidSocket) << i;
        filler.push_back(h);
    }
    {
        LoopbackServer server([](Peer& p) {
            std::string got = p.receiveExact(5);
            p.send("echo " + got + "\r\n");
            p.receive(1, 10000);
        });
        TembrixSocket s;
        Logger log;
        ASSERT_TRUE(connectTo(s, server, log)) << logText(log);
        ASSERT_TRUE(s.sendBytes(reinterpret_cast<const unsigned char*>("hello"), 5, log));
        StringBuffer line;
        ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr)) << logText(log);
        EXPECT_STREQ(line.getString(), "echo hello\r\n");
    }
    for (platform::SocketHandle h : filler) platform::closeSocket(h);
}

TEST(SocketConnect, HostThatNeverAnswersTimesOutWithinTwiceTheLimit)
{
    // A listener whose queue is full and never accepted drops further
    // connection requests, as an unreachable host would.
    uint16_t port = 0;
    platform::SocketHandle full = platform::listenLoopback(port);
    ASSERT_NE(full, platform::kInvalidSocket);
    std::vector<platform::SocketHandle> queued;
    uint32_t loopbackAddress = 0;
    ASSERT_EQ(platform::resolveIpv4("127.0.0.1", loopbackAddress), platform::ResolveResult::Resolved);
    bool filled = false;
    for (int i = 0; i < 64 && !filled; ++i) {
        platform::SocketHandle h = platform::createStreamSocket();
        platform::setNonBlocking(h, true);
        platform::connectIpv4(h, loopbackAddress, port);
        queued.push_back(h);
        filled = platform::waitWritable(h, 300) != 1;
    }
    if (filled) {
        TembrixSocket s;
        s.setConnectTimeoutS(1);
        Logger log;
        bool unknown = true;
        Stopwatch w;
        EXPECT_FALSE(s.connectToHost("127.0.0.1", port, log, unknown));
        EXPECT_GE(w.ms(), 900);
        EXPECT_LT(w.ms(), 3500);
        EXPECT_TRUE(has(log, "socket is not ready for writing")) << logText(log);
        EXPECT_TRUE(has(log, "Connect function failed."));
    }
    for (platform::SocketHandle h : queued) platform::closeSocket(h);
    platform::closeSocket(full);
    if (!filled) GTEST_SKIP() << "this system accepts every connection request on a full queue";
}

TEST(SocketHost, LocalHostNameIsATerminatedName)
{
    TembrixSocket s;
    Logger log;
    StringBuffer name("old");
    ASSERT_TRUE(s.getLocalHostName(name, log));
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(std::string(name.getString()).size(), static_cast<size_t>(name.getSize()));
    EXPECT_LT(name.getSize(), 500);
    EXPECT_NE(std::string(name.getString()), "old");
}

TEST(SocketErrors, CodesHaveTheirTexts)
{
    Logger log;
    TembrixSocket::logSocketError(10061, log);
    TembrixSocket::logSocketError(10035, log);
    TembrixSocket::logSocketError(4, log);
    const std::string text = logText(log);
    EXPECT_NE(text.find("WSAECONNREFUSED No connection could be made because the target machine actively refused it."),
              std::string::npos);
    EXPECT_NE(text.find("WSAEWOULDBLOCK The socket would block."), std::string::npos);
    EXPECT_NE(text.find("Unknown socket error"), std::string::npos);
    EXPECT_NE(text.find("SocketError"), std::string::npos);
    // Start-up was tried when the first socket was made; later calls succeed quietly.
    Logger again;
    EXPECT_TRUE(TembrixSocket::startWinsock(again));
    EXPECT_EQ(logText(again), "");
}

}  // namespace
