#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/Platform.h"
#include "smtp/ProgressEvent.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/SocketTestSupport.h"

using namespace hanamail;
using loopback::LoopbackServer;
using loopback::Peer;
using loopback::Stopwatch;
using sockettest::connectTo;
using sockettest::has;
using sockettest::logText;

namespace {

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
    return s;
}

const unsigned char* bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Counts what the application is told.
class Recorder : public ProgressEvent {
public:
    void percentDone(int percent, bool& abort) override
    {
        EXPECT_GT(percent, last);
        EXPECT_LE(percent, 100);
        last = percent;
        ++calls;
        abort = abortAt >= 0 && percent >= abortAt;
    }
    int last = -1;
    int calls = 0;
    int abortAt = -1;
};

TEST(SocketSend, ProgressSendsArriveExactAndTheStepsAddUp)
{
    for (size_t size : {size_t(1000), size_t(5000000)}) {
        const std::string data = pattern(size);
        std::string received;
        LoopbackServer server([&](Peer& p) { received = p.receiveAll(); });
        Recorder app;
        {
            TembrixSocket s;
            Logger log;
            ASSERT_TRUE(connectTo(s, server, log));
            // Room above the byte count, so a step beyond what was sent would show.
            ProgressMonitor pm(&app, static_cast<uint32_t>(2 * size));
            ASSERT_TRUE(s.sendBytes(bytes(data), static_cast<uint32_t>(size), log, &pm)) << logText(log);
            EXPECT_EQ(pm.getDone(), size);
            EXPECT_EQ(app.last, 50);
        }
        server.join();
        EXPECT_EQ(received.size(), size);
        EXPECT_TRUE(received == data) << size;
    }
}

TEST(SocketSend, PlainSendArrivesExact)
{
    const std::string data = pattern(300000);
    std::string received;
    LoopbackServer server([&](Peer& p) { received = p.receiveAll(); });
    {
        TembrixSocket s;
        Logger log;
        ASSERT_TRUE(connectTo(s, server, log));
        ASSERT_TRUE(s.sendBytes(bytes(data), static_cast<uint32_t>(data.size()), log));
        EXPECT_EQ(s.getLastSendError(), 0);
    }
    server.join();
    EXPECT_TRUE(received == data);
}

TEST(SocketSend, ApplicationAbortStopsTheSend)
{
    const std::string data = pattern(20000000);
    LoopbackServer server([](Peer& p) { p.receiveAll(); });
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    Recorder app;
    app.abortAt = 10;
    ProgressMonitor pm(&app, static_cast<uint32_t>(data.size()));
    EXPECT_FALSE(s.sendBytes(bytes(data), static_cast<uint32_t>(data.size()), log, &pm));
    EXPECT_TRUE(has(log, "Socket send aborted by application"));
    EXPECT_TRUE(pm.wasAborted());
    EXPECT_LT(pm.getDone(), data.size());
}

TEST(SocketSend, NothingToSendOrNoSocketFails)
{
    TembrixSocket s;
    Logger log;
    EXPECT_FALSE(s.sendBytes(bytes("x"), 0, log));
    EXPECT_EQ(logText(log), "");
    EXPECT_FALSE(s.sendBytes(bytes("x"), 1, log));
    EXPECT_TRUE(has(log, "No socket exists for sending"));
}

TEST(SocketSend, PeerClosingDuringALargeSendFailsAndTheProcessLives)
{
    const std::string data = pattern(40000000);
    LoopbackServer server([](Peer& p) { p.receiveExact(1000); }, 2);  // then closes
    for (bool withProgress : {false, true}) {
        TembrixSocket s;
        Logger log;
        ASSERT_TRUE(connectTo(s, server, log));
        ProgressMonitor pm(nullptr, static_cast<uint32_t>(data.size()));
        EXPECT_FALSE(s.sendBytes(bytes(data), static_cast<uint32_t>(data.size()), log, withProgress ? &pm : nullptr));
        EXPECT_TRUE(has(log, "Error sending on socket")) << logText(log);
        EXPECT_TRUE(has(log, "send_size"));
        EXPECT_NE(s.getLastSendError(), 0);
    }
}

TEST(SocketSend, PeerThatStopsReadingFailsAtTheReadTimeOut)
{
    std::atomic<bool> release{false};
    LoopbackServer server([&](Peer&) {
        while (!release) platform::sleepMs(20);
    });
    const std::string data = pattern(64000000);
    TembrixSocket s;
    Logger log;
    ASSERT_TRUE(connectTo(s, server, log));
    s.setReadTimeoutMs(800);
    Recorder app;
    ProgressMonitor pm(&app, static_cast<uint32_t>(data.size()));
    Stopwatch w;
    EXPECT_FALSE(s.sendBytes(bytes(data), static_cast<uint32_t>(data.size()), log, &pm));
    const long long spent = w.ms();
    release = true;
    EXPECT_GE(spent, 700);
    EXPECT_LT(spent, 15000);
    EXPECT_TRUE(has(log, "Error sending on socket")) << logText(log);
    EXPECT_TRUE(has(log, "WSAETIMEDOUT"));
    EXPECT_EQ(s.getLastSendError(), platform::kSockTimedOut);
}

}  // namespace
