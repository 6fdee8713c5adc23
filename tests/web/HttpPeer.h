#pragma once
// Canned HTTP servers for the client tests: a peer thread on 127.0.0.1 that
// reads each request and answers with the next of its responses.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "support/LoopbackServer.h"

namespace httptest {

// What the peers saw, shared with the test thread.
struct Seen {
    std::mutex lock;
    std::vector<std::string> requests;
    void add(const std::string& r)
    {
        std::lock_guard<std::mutex> g(lock);
        requests.push_back(r);
    }
    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> g(lock);
        return requests;
    }
};

// One request: everything through the client's closing blank lines.
inline std::string readRequest(loopback::Peer& p, uint32_t timeoutMs = 5000)
{
    std::string r;
    while (r.find("\r\n\r\n") == std::string::npos) {
        std::string piece = p.receive(65536, timeoutMs);
        if (piece.empty()) return r;
        r += piece;
    }
    return r;
}

// Answers the requests of one connection with responses in order, then
// waits for the client to close (or for the next request, which it leaves
// unanswered).
inline loopback::LoopbackServer::Handler answers(std::vector<std::string> responses, std::shared_ptr<Seen> seen,
                                                 uint32_t waitMs = 3000)
{
    return [responses, seen, waitMs](loopback::Peer& p) {
        for (const std::string& response : responses) {
            const std::string request = readRequest(p);
            if (request.empty()) return;
            if (seen) seen->add(request);
            p.send(response);
        }
        p.receive(1, waitMs);
    };
}

// The same answer on every connection.
inline loopback::LoopbackServer::Handler answersAndCloses(std::string response, std::shared_ptr<Seen> seen)
{
    return [response, seen](loopback::Peer& p) {
        const std::string request = readRequest(p);
        if (request.empty()) return;
        if (seen) seen->add(request);
        p.send(response);
    };
}

inline std::string url(const loopback::LoopbackServer& s, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(s.port()) + path;
}

inline std::string str(const hanamail::DataBuffer& d)
{
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

inline std::string logText(hanamail::Logger& log)
{
    hanamail::StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

inline bool has(hanamail::Logger& log, const std::string& line)
{
    return logText(log).find(line) != std::string::npos;
}

}  // namespace httptest
