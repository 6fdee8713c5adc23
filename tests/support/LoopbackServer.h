#pragma once
// A listening socket on 127.0.0.1 (or ::1) with a peer thread that runs the test's
// handler for each accepted connection: the real other end for the socket,
// SMTP and HTTP tests, on Linux and under Wine alike.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Socket.h"

namespace loopback {

using hanamail::platform::SocketHandle;

// One accepted connection, closed when the handler returns.
class Peer {
public:
    explicit Peer(SocketHandle h) : m_handle(h) {}
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() { close(); }

    // Everything, or false when the client went away or stopped reading.
    bool send(std::string_view data, uint32_t timeoutMs = 10000)
    {
        while (!data.empty()) {
            const uint32_t n = data.size() > 65536 ? 65536u : static_cast<uint32_t>(data.size());
            const int64_t sent = hanamail::platform::sendSome(m_handle, data.data(), n, timeoutMs);
            if (sent <= 0) return false;
            data.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }
    // Up to n bytes ("" at the client's close, an error or the time-out).
    std::string receive(uint32_t n = 65536, uint32_t timeoutMs = 10000)
    {
        std::string buf(n, '\0');
        if (hanamail::platform::waitReadable(m_handle, timeoutMs) != 1) return std::string();
        const int64_t got = hanamail::platform::receiveSome(m_handle, buf.data(), n);
        buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return buf;
    }
    // Exactly n bytes, or what came before the client closed.
    std::string receiveExact(size_t n, uint32_t timeoutMs = 10000)
    {
        std::string all;
        while (all.size() < n) {
            const size_t left = n - all.size();
            std::string piece = receive(left > 65536 ? 65536u : static_cast<uint32_t>(left), timeoutMs);
            if (piece.empty()) break;
            all += piece;
        }
        return all;
    }
    // Everything until the client closes.
    std::string receiveAll(uint32_t timeoutMs = 10000)
    {
        std::string all;
        for (std::string piece; !(piece = receive(65536, timeoutMs)).empty();) all += piece;
        return all;
    }
    void close()
    {
        if (m_handle != hanamail::platform::kInvalidSocket) hanamail::platform::closeSocket(m_handle);
        m_handle = hanamail::platform::kInvalidSocket;
    }
    SocketHandle handle() const { return m_handle; }

private:
    SocketHandle m_handle;
};

class LoopbackServer {
public:
    using Handler = std::function<void(Peer&)>;

    // Serves up to `connections` clients one after another; gives up waiting
    // for a client after acceptTimeoutMs.
    // ipv6: on ::1 instead (not listening where the system has no IPv6).
    explicit LoopbackServer(Handler handler, int connections = 1, uint32_t acceptTimeoutMs = 10000, bool ipv6 = false)
    {
        bool ranNow = false;
        hanamail::platform::startSockets(ranNow);
        m_listener = ipv6 ? hanamail::platform::listenLoopbackIpv6(m_port) : hanamail::platform::listenLoopback(m_port);
        if (m_listener == hanamail::platform::kInvalidSocket) return;
        m_thread = std::thread([this, handler = std::move(handler), connections, acceptTimeoutMs] {
            for (int i = 0; i < connections; ++i) {
                SocketHandle c = hanamail::platform::acceptConnection(m_listener, acceptTimeoutMs);
                if (c == hanamail::platform::kInvalidSocket) break;
                Peer peer(c);
                handler(peer);
                ++m_served;
            }
        });
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer()
    {
        join();
        if (m_listener != hanamail::platform::kInvalidSocket) hanamail::platform::closeSocket(m_listener);
    }

    bool listening() const { return m_listener != hanamail::platform::kInvalidSocket; }
    uint16_t port() const { return m_port; }
    // Waits for the handlers to finish.
    void join()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    int served() const { return m_served; }

private:
    SocketHandle m_listener = hanamail::platform::kInvalidSocket;
    uint16_t m_port = 0;
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

// Milliseconds since a start, for the time-out bounds.
class Stopwatch {
public:
    long long ms() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start)
            .count();
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace loopback
