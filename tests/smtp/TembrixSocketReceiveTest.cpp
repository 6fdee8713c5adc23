#include <gtest/gtest.h>

#include <string>

#include "foundation/DataBuffer.h"
#include "platform/Platform.h"
#include "smtp/SocketTestSupport.h"

using namespace hanamail;
using loopback::LoopbackServer;
using loopback::Peer;
using loopback::Stopwatch;
using sockettest::connectTo;
using sockettest::has;

namespace {

// A peer that sends the pieces (pausing between them so they arrive apart),
// then waits until the client closes.
LoopbackServer::Handler sendsThenWaits(std::vector<std::string> pieces, uint32_t pauseMs = 30)
{
    return [pieces, pauseMs](Peer& p) {
        for (const std::string& piece : pieces) {
            p.send(piece);
            platform::sleepMs(pauseMs);
        }
        p.receive(1, 20000);
    };
}
// The same, but the peer closes after the last piece.
LoopbackServer::Handler sendsThenCloses(std::vector<std::string> pieces)
{
    return [pieces](Peer& p) {
        for (const std::string& piece : pieces) {
            p.send(piece);
            platform::sleepMs(30);
        }
    };
}

std::string str(const DataBuffer& d)
{
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

TEST(SocketReceiveUntil, TwoRepliesInOneSegmentNeedOneRead)
{
    LoopbackServer server(sendsThenWaits({"250 first\r\n250 second\r\n"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    s.setReadTimeoutMs(3000);
    StringBuffer line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "250 first\r\n");
    // The second comes from the receive buffer: no wait, no time-out.
    Stopwatch w;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "250 second\r\n");
    EXPECT_LT(w.ms(), 1000);
    EXPECT_FALSE(has(log, "Socket read timeout"));
}

TEST(SocketReceiveUntil, JoinsPiecesSplitAnywhereEvenInsideTheTerminator)
{
    LoopbackServer server(sendsThenWaits({"250 hel", "lo\r", "\n354 go", " ahead\r\n"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "250 hello\r\n");
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(line.getString(), "354 go ahead\r\n");
}

TEST(SocketReceiveUntil, TailOnlyWaitsUntilTheDataEndsWithTheTerminator)
{
    LoopbackServer server(sendsThenWaits({"abc\r\ndef", "\r\n"}, 100));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer text;
    ASSERT_TRUE(s.receiveUntil(text, "\r\n", 1000, true, log, nullptr));
    EXPECT_STREQ(text.getString(), "abc\r\ndef\r\n");
}

TEST(SocketReceiveUntil, CutByThePeerFailsAsNoLongerReadable)
{
    LoopbackServer server(sendsThenCloses({"250 partial"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer line;
    EXPECT_FALSE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_TRUE(has(log, "The peer has closed the socket (TCP) connection"));
    EXPECT_TRUE(has(log, "Socket is no longer readable"));
    EXPECT_FALSE(s.hasSocket());
}

TEST(SocketReceiveUntil, ALineOf64KiBPassesAndOneByteMoreFails)
{
    const std::string fits = std::string(TembrixSocket::kMaxReplyLine - 2, 'a') + "\r\n";
    const std::string tooLong = std::string(TembrixSocket::kMaxReplyLine - 1, 'b') + "\r\n";
    LoopbackServer server(sendsThenWaits({fits, tooLong}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_EQ(std::string(line.getString()), fits);
    EXPECT_FALSE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_TRUE(has(log, "Failed to read data from socket"));
    EXPECT_TRUE(line.isEmpty());
}

TEST(SocketReceiveUntil, EndlessDataWithoutTerminatorFailsPromptly)
{
    LoopbackServer server([](Peer& p) {
        const std::string block(65536, 'x');
        for (int i = 0; i < 200 && p.send(block, 2000); ++i) {
        }
    });
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    Stopwatch w;
    StringBuffer line;
    EXPECT_FALSE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_TRUE(has(log, "Failed to read data from socket"));
    EXPECT_LT(w.ms(), 3000);
    s.closeSocket();
}

TEST(SocketReceiveUntil, SilentPeerTimesOutWithinTheBound)
{
    LoopbackServer server(sendsThenWaits({}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    s.setReadTimeoutMs(300);
    Stopwatch w;
    StringBuffer line;
    EXPECT_FALSE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_GE(w.ms(), 250);
    EXPECT_LT(w.ms(), 2000);
    EXPECT_TRUE(has(log, "Socket read timeout"));
    EXPECT_TRUE(has(log, "timeoutMS"));
    EXPECT_TRUE(s.hasSocket());  // a time-out leaves the socket open
}

TEST(SocketReceiveUntil, TimeOutAfterSomeDataGivesThatData)
{
    LoopbackServer server(sendsThenWaits({"no line end"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    s.setReadTimeoutMs(300);
    StringBuffer text;
    EXPECT_TRUE(s.receiveUntil(text, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(text.getString(), "no line end");
}

TEST(SocketReceiveLine, BareLfInsideALineDoesNotEndIt)
{
    // Three letters and LF, three letters and CR LF: one line of nine bytes;
    // the header block reads on to its empty line.
    LoopbackServer server(sendsThenWaits({"abc\nabc\r\n", "X: 1\r\n\r\nrest"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    s.setReadTimeoutMs(3000);
    DataBuffer line;
    ASSERT_TRUE(s.receiveLine(line, log));
    EXPECT_EQ(str(line), "abc\nabc\r\n");
    DataBuffer block;
    ASSERT_TRUE(s.receiveHeaderBlock(block, log));
    EXPECT_EQ(str(block), "X: 1\r\n\r\n");
    DataBuffer rest;
    ASSERT_TRUE(s.receiveCount(4, rest, log));
    EXPECT_EQ(str(rest), "rest");
}

TEST(SocketReceiveHeaderBlock, KeepsReadingPastABareLfLine)
{
    LoopbackServer server(sendsThenWaits({"abc\nabc\r\n", "More: x\n\n"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer block;
    ASSERT_TRUE(s.receiveHeaderBlock(block, log));
    EXPECT_EQ(str(block), "abc\nabc\r\nMore: x\n\n");
}

TEST(SocketReceiveLine, BoundsAndCuts)
{
    const std::string fits = std::string(TembrixSocket::kMaxLine - 2, 'a') + "\r\n";
    const std::string tooLong = std::string(TembrixSocket::kMaxLine, 'b') + "\r\n";
    LoopbackServer server(sendsThenCloses({fits, tooLong}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer line;
    ASSERT_TRUE(s.receiveLine(line, log));
    EXPECT_EQ(str(line), fits);
    DataBuffer second;
    EXPECT_FALSE(s.receiveLine(second, log));
    EXPECT_TRUE(has(log, "Failed to read data from socket"));
    EXPECT_LE(second.getSize(), TembrixSocket::kMaxLine);
}

TEST(SocketReceiveHeaderBlock, BoundsAndCuts)
{
    // A block that never ends fails at 64 KiB; one cut by the peer fails too.
    std::string endless;
    while (endless.size() < 70000) endless += "Name: value\r\n";
    {
        LoopbackServer server(sendsThenWaits({endless}));
        TembrixSocket s;
        Logger log;
        ASSERT_TRUE(connectTo(s, server, log));
        DataBuffer block;
        EXPECT_FALSE(s.receiveHeaderBlock(block, log));
        EXPECT_TRUE(has(log, "Failed to read data from socket"));
        EXPECT_EQ(block.getSize(), TembrixSocket::kMaxHeaderBlock);
    }
    {
        LoopbackServer server(sendsThenCloses({"HTTP/1.1 200 OK\r\nHost: x\r\n"}));
        TembrixSocket s;
        Logger log;
        ASSERT_TRUE(connectTo(s, server, log));
        DataBuffer block;
        EXPECT_FALSE(s.receiveHeaderBlock(block, log));
        EXPECT_TRUE(has(log, "The peer has closed the socket (TCP) connection"));
    }
}

TEST(SocketReceiveCount, RefusesZeroAndHugeCountsWithoutReading)
{
    LoopbackServer server(sendsThenWaits({"hello"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer out;
    EXPECT_FALSE(s.receiveCount(0, out, log));
    EXPECT_FALSE(s.receiveCount(TembrixSocket::kMaxReceiveCount + 1, out, log));
    EXPECT_EQ(out.getSize(), 0u);
    ASSERT_TRUE(s.receiveCount(5, out, log));  // nothing was consumed
    EXPECT_EQ(str(out), "hello");
}

TEST(SocketReceiveCount, LargeCountsArriveWholeInPieces)
{
    std::string big(5000000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    LoopbackServer server(sendsThenWaits({big}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer out;
    ASSERT_TRUE(out.append("prefix", 6));
    ASSERT_TRUE(s.receiveCount(static_cast<uint32_t>(big.size()), out, log));
    EXPECT_TRUE(str(out) == "prefix" + big);
}

TEST(SocketReceiveCount, CutBeforeTheCountFails)
{
    LoopbackServer server(sendsThenCloses({"only nine"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer out;
    EXPECT_FALSE(s.receiveCount(100, out, log));
    EXPECT_EQ(out.getSize(), 0u);
    EXPECT_TRUE(has(log, "The peer has closed the socket (TCP) connection"));
}

TEST(SocketReceive, ByteReadsTakeWhatALineReadLeftBuffered)
{
    LoopbackServer server(sendsThenWaits({"HTTP/1.1 200 OK\r\nA: b\r\n\r\nBODY"}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    StringBuffer status;
    ASSERT_TRUE(s.receiveUntil(status, "\r\n", 1000, false, log, nullptr));
    EXPECT_STREQ(status.getString(), "HTTP/1.1 200 OK\r\n");
    DataBuffer head, body;
    ASSERT_TRUE(s.receiveHeaderBlock(head, log));
    EXPECT_EQ(str(head), "A: b\r\n\r\n");
    ASSERT_TRUE(s.receiveCount(4, body, log));
    EXPECT_EQ(str(body), "BODY");
}

TEST(SocketReceive, UntilClosedGathersEverything)
{
    std::string data;
    for (int i = 0; i < 30000; ++i) data += static_cast<char>('a' + i % 26);
    LoopbackServer server(sendsThenCloses({data.substr(0, 100), data.substr(100)}));
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    DataBuffer out;
    ASSERT_TRUE(s.receiveUntilClosed(out, log));
    EXPECT_EQ(str(out), data);
    EXPECT_EQ(s.getReadTimeoutMs(), 30000u);
}

TEST(SocketReceive, SomeAndExact)
{
    LoopbackServer server(sendsThenCloses({"abcdef", "ghij"}));
    TembrixSocket s;
    Logger log;
    unsigned char buf[16] = {};
    uint32_t n = sizeof buf;
    bool timedOut = true;
    EXPECT_FALSE(s.receiveSome(buf, n, timedOut, log));  // not connected yet
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(has(log, "This socket is not connected"));
    ASSERT_TRUE(connectTo(s, server, log));
    ASSERT_TRUE(s.receiveExact(buf, 8, log));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), "abcdefgh");
    n = sizeof buf;
    ASSERT_TRUE(s.receiveSome(buf, n, timedOut, log));
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "ij");
    EXPECT_FALSE(s.receiveExact(buf, 1, log));
    EXPECT_TRUE(s.receiveExact(buf, 0, log));
}

}  // namespace
