#include "platform/TlsSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

using namespace hanamail;
using platform::TlsFailure;
using platform::TlsSession;
using platform::TlsSettings;

namespace {

constexpr uint32_t kHelloWaitMs = 5000;

// A client end and a peer end, the peer run by a thread of the test.
struct Pair {
    platform::SocketHandle client = platform::kInvalidSocket, peer = platform::kInvalidSocket;
    Pair()
    {
        bool ranNow = false;
        (void)platform::startSockets(ranNow);
        EXPECT_TRUE(platform::socketPair(client, peer));
    }
    ~Pair()
    {
        platform::closeSocket(client);
        if (peer != platform::kInvalidSocket) platform::closeSocket(peer);
    }
    void closePeer()
    {
        platform::closeSocket(peer);
        peer = platform::kInvalidSocket;
    }
    // What the client sent first (its hello), waiting at most timeoutMs.
    std::string readSome(uint32_t timeoutMs = kHelloWaitMs)
    {
        char piece[4096];
        if (platform::waitReadable(peer, timeoutMs) != 1) return std::string();
        const int64_t n = platform::receiveSome(peer, piece, sizeof piece);
        return n > 0 ? std::string(piece, static_cast<size_t>(n)) : std::string();
    }
};

uint32_t elapsedSince(uint32_t start)
{
    return platform::tickCount() - start;
}

// Every handshake failure is a failure, never a session.
void expectHandshakeFailure(TlsSession& tls)
{
    EXPECT_FALSE(tls.established());
    EXPECT_FALSE(tls.errorText().empty());
    EXPECT_EQ(tls.failure(), TlsFailure::Handshake) << tls.errorText();
}

}  // namespace

TEST(TlsSession, PeerThatClosesBeforeOrDuringTheHandshake)
{
    {
        SCOPED_TRACE("closed before the hello: the write must not raise a signal");
        Pair p;
        p.closePeer();
        TlsSession tls;
        const uint32_t start = platform::tickCount();
        EXPECT_FALSE(tls.handshake(p.client, "localhost", TlsSettings{}, 5000));
        EXPECT_LT(elapsedSince(start), 4000u);
        expectHandshakeFailure(tls);
    }
    {
        SCOPED_TRACE("closed after reading the hello");
        Pair p;
        std::thread peer([&] {
            (void)p.readSome();
            p.closePeer();
        });
        TlsSession tls;
        const uint32_t start = platform::tickCount();
        EXPECT_FALSE(tls.handshake(p.client, "localhost", TlsSettings{}, 5000));
        EXPECT_LT(elapsedSince(start), 4000u);
        peer.join();
        expectHandshakeFailure(tls);
    }
}

TEST(TlsSession, GarbageInsteadOfAServerHello)
{
    for (const std::string& garbage : {std::string("220 this is not TLS\r\n"), std::string(5000, '\x16'),
                                       std::string("\x16\x03\x03\xff\xff") + std::string(3000, 'A')}) {
        Pair p;
        std::thread peer([&] {
            (void)p.readSome();
            (void)platform::sendSome(p.peer, garbage.data(), static_cast<uint32_t>(garbage.size()), 2000);
            (void)p.readSome(kHelloWaitMs / 5);
        });
        TlsSession tls;
        const uint32_t start = platform::tickCount();
        EXPECT_FALSE(tls.handshake(p.client, "127.0.0.1", TlsSettings{}, 5000));
        // A record header that announces more than comes ends at the time-out at the latest.
        EXPECT_LT(elapsedSince(start), 5500u);
        peer.join();
        expectHandshakeFailure(tls);
    }
}

TEST(TlsSession, StallingPeerEndsAtTheTimeOut)
{
    Pair p;
    TlsSession tls;
    const uint32_t start = platform::tickCount();
    EXPECT_FALSE(tls.handshake(p.client, "localhost", TlsSettings{}, 400));
    const uint32_t spent = elapsedSince(start);
    EXPECT_LT(spent, 3000u);
    expectHandshakeFailure(tls);
    EXPECT_GE(spent, 350u);
    EXPECT_EQ(tls.socketError(), platform::kSockTimedOut);
    EXPECT_NE(tls.errorText().find("timed out"), std::string::npos) << tls.errorText();
}

TEST(TlsSession, NothingGoesOverASessionThatIsNotEstablished)
{
    Pair p;
    TlsSession tls;
    char buffer[16];
    bool timedOut = true;
    EXPECT_EQ(tls.read(buffer, sizeof buffer, 100, timedOut), -1);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(tls.write("x", 1, 100), -1);
    EXPECT_FALSE(tls.hasBuffered());
    tls.shutdown(100);

    // A failed handshake leaves no session either, and none can start again.
    p.closePeer();
    EXPECT_FALSE(tls.handshake(p.client, "localhost", TlsSettings{}, 1000));
    EXPECT_EQ(tls.write("x", 1, 100), -1);
    EXPECT_FALSE(tls.handshake(p.client, "localhost", TlsSettings{}, 1000));
    EXPECT_TRUE(tls.version().empty());
    EXPECT_TRUE(tls.peerSubject().empty());
}

TEST(TlsSession, UnreadableCaFileFailsBeforeAnyByteIsSent)
{
    Pair p;
    TlsSettings settings;
    std::string temp;
    ASSERT_TRUE(platform::getTempPath(temp));
    settings.caFile = temp + "nonexistent-hanamail-dir/test-ca.pem";
    TlsSession tls;
    EXPECT_FALSE(tls.handshake(p.client, "localhost", settings, 1000));
    EXPECT_EQ(tls.failure(), TlsFailure::Handshake);
    EXPECT_NE(tls.errorText().find(settings.caFile), std::string::npos) << tls.errorText();
    EXPECT_NE(platform::waitReadable(p.peer, 0), 1);
}
