#pragma once
// An SMTP server that offers STARTTLS, for timing clients over TLS: it takes
// every message on a free port of 127.0.0.1 and keeps only its size. It runs
// in a forked child, one connection after another, with a certificate for
// 127.0.0.1 and localhost from a CA made at start; the CA's PEM file is what
// the clients verify against.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Finds the end marker of DATA (CR LF "." CR LF) in the bytes as they come,
// in pieces of any size, and counts the message without its stuffing dots.
class DataScanner {
public:
    // Takes bytes of the data; returns how many belong to it (all n until the
    // end marker, which is included). The rest are the next commands.
    size_t feed(const char* p, size_t n);
    bool ended() const { return m_state == kEnded; }
    // The message as the client meant it, once ended().
    uint64_t size() const { return m_size; }

private:
    enum State { kLineStart, kInLine, kAfterCr, kDot, kDotCr, kEnded };
    State m_state = kLineStart;
    uint64_t m_total = 0;    // bytes taken before the current piece
    uint64_t m_stuffed = 0;  // dots that began a line and are not the message's
    uint64_t m_size = 0;
};

class TlsSink {
public:
    struct Message {
        uint64_t bytes = 0;
        std::string tls;  // protocol and cipher suite, "none" when sent in the clear
    };

    TlsSink() = default;
    TlsSink(const TlsSink&) = delete;
    TlsSink& operator=(const TlsSink&) = delete;
    ~TlsSink() { stop(); }

    // Makes the certificates, writes the CA file and starts the server;
    // error says why it could not.
    bool start(std::string& error);
    int port() const { return m_port; }
    const std::string& caFile() const { return m_caFile; }
    // The messages completed since the last call, in order.
    std::vector<Message> received();
    // Ends the server and removes the CA file.
    void stop();

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_log = -1;  // a line per message, written by the server
    off_t m_read = 0;
    std::string m_pending;
    std::string m_dir, m_caFile;
};
