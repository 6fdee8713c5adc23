#pragma once
// A scripted SMTP server on 127.0.0.1 for the session tests: it answers each
// command with the script's reply (a default dialogue otherwise) and
// records every line it received and every message's bytes as they came.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"

namespace smtptest {

struct Script {
    std::string greeting = "220 test ready\r\n";
    std::string ehlo = "250-test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";
    // Replies by verb ("HELO", "MAIL", "RCPT", "DATA", "END" for the end
    // marker, "RSET", "AUTH"); the default is the usual success.
    std::map<std::string, std::string> replies;
    // A reply for the n-th RCPT (from 1); empty: the usual.
    std::function<std::string(int n)> rcpt;
    // Before answering the verb, the peer stops: "close" closes, "silent" waits.
    std::string closeAt, silentAt;
};

struct Record {
    std::mutex lock;
    std::vector<std::string> lines;     // every line received, line end included
    std::vector<std::string> messages;  // the bytes between DATA's 354 and the end marker
    std::string wire;                   // every byte received
};

class Peer {
public:
    Peer(loopback::Peer& p, const Script& s, Record& r) : m_peer(p), m_script(s), m_record(r) {}

    void run()
    {
        if (!stopBefore("GREETING")) return;
        m_peer.send(m_script.greeting);
        int rcpts = 0;
        for (std::string line; readLine(line);) {
            const std::string verb = upper(line.substr(0, 4));
            if (!stopBefore(verb)) return;
            if (verb == "EHLO") {
                m_peer.send(reply("EHLO", m_script.ehlo));
            } else if (verb == "AUTH") {
                if (!auth(line)) return;
            } else if (verb == "RCPT") {
                ++rcpts;
                std::string r = m_script.rcpt ? m_script.rcpt(rcpts) : std::string();
                m_peer.send(r.empty() ? reply("RCPT", "250 ok\r\n") : r);
            } else if (verb == "DATA") {
                const std::string r = reply("DATA", "354 go ahead\r\n");
                m_peer.send(r);
                if (r.compare(0, 3, "354") != 0) continue;
                std::string message;
                if (!readData(message)) return;
                {
                    std::lock_guard<std::mutex> g(m_record.lock);
                    m_record.messages.push_back(message);
                }
                if (!stopBefore("END")) return;
                m_peer.send(reply("END", "250 queued\r\n"));
            } else if (verb == "QUIT") {
                m_peer.send("221 bye\r\n");
                return;
            } else {
                m_peer.send(reply(verb, "250 ok\r\n"));
            }
        }
    }

private:
    static std::string upper(std::string s)
    {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    std::string reply(const std::string& verb, const std::string& normal) const
    {
        auto it = m_script.replies.find(verb);
        return it == m_script.replies.end() ? normal : it->second;
    }

    bool stopBefore(const std::string& verb)
    {
        if (verb == m_script.closeAt) return false;
        if (verb == m_script.silentAt) {
            (void)m_peer.receiveAll(20000);
            return false;
        }
        return true;
    }

    bool fill()
    {
        std::string piece = m_peer.receive(65536, 15000);
        if (piece.empty()) return false;
        std::lock_guard<std::mutex> g(m_record.lock);
        m_record.wire += piece;
        m_buffer += piece;
        return true;
    }

    bool readLine(std::string& line)
    {
        size_t nl;
        while ((nl = m_buffer.find('\n')) == std::string::npos)
            if (!fill()) return false;
        line = m_buffer.substr(0, nl + 1);
        m_buffer.erase(0, nl + 1);
        std::lock_guard<std::mutex> g(m_record.lock);
        m_record.lines.push_back(line);
        return true;
    }

    bool readData(std::string& message)
    {
        for (;;) {
            if (m_buffer.compare(0, 3, ".\r\n") == 0) {
                m_buffer.erase(0, 3);
                return true;
            }
            const size_t end = m_buffer.find("\r\n.\r\n");
            if (end != std::string::npos) {
                message = m_buffer.substr(0, end + 2);
                m_buffer.erase(0, end + 5);
                return true;
            }
            if (!fill()) return false;
        }
    }

    bool auth(const std::string& line)
    {
        const std::string mech = upper(line.substr(5, line.find_first_of("\r\n") - 5));
        const std::string first =
            reply("AUTH",
                  mech == "CRAM-MD5" ? "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n" : "334 \r\n");
        m_peer.send(first);
        if (first.compare(0, 3, "334") != 0) return true;
        std::string answer;
        if (!readLine(answer)) return false;
        if (mech == "LOGIN") {
            m_peer.send(reply("AUTH1", "334 UGFzc3dvcmQ6\r\n"));
            if (!readLine(answer)) return false;
        }
        m_peer.send(reply("AUTH2", "235 authenticated\r\n"));
        return true;
    }

    loopback::Peer& m_peer;
    const Script& m_script;
    Record& m_record;
    std::string m_buffer;
};

// A server that runs the script for up to `connections` clients.
inline std::unique_ptr<loopback::LoopbackServer> serve(const Script& script, Record& record, int connections = 1)
{
    return std::make_unique<loopback::LoopbackServer>(
        [&script, &record](loopback::Peer& p) { Peer(p, script, record).run(); }, connections);
}

}  // namespace smtptest
