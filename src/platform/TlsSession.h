#pragma once
// TLS client over a connected stream socket: the handshake, then the records
// in both directions. Every wait (handshake, read, write) is bounded by the
// time-out of the call; a peer that closes never raises a signal.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Socket.h"

namespace hanamail {

namespace platform {

struct TlsSettings {
    // Trust anchors (PEM) besides the system's own; "" for none.
    std::string caFile;
    // No verification of the chain or the name at all.
    bool insecure = false;
};

// Why a handshake failed, as far as the caller must tell it apart.
enum class TlsFailure {
    None,
    Handshake,     // protocol error, peer closed, time-out, nothing in common
    Untrusted,     // the chain does not end at a trusted anchor, or a certificate is not valid now
    NameMismatch,  // a trusted certificate for another name or address
};

// What a session knows of itself, kept alike on every platform.
struct TlsSessionFacts {
    TlsFailure failure = TlsFailure::None;
    std::string error;
    int socketError = 0;
    std::string version, cipher, subject, issuer;
    bool established = false;
    // After a fatal error nothing more may be sent on the session.
    bool broken = false;

    // The handshake completed: what failed before it is forgotten.
    void completed()
    {
        established = true;
        failure = TlsFailure::None;
        error.clear();
    }
};

class TlsSession {
public:
    TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;
    ~TlsSession();

    // TLS 1.2 or later with host as the name the certificate must carry (a
    // dotted IPv4 or an IPv6 literal is checked as an address; a name is also
    // sent as SNI). The socket is left non-blocking; it stays the caller's.
    bool handshake(SocketHandle s, const char* host, const TlsSettings& settings, uint32_t timeoutMs);
    bool established() const { return m_facts->established && !m_facts->broken; }

    // Up to n bytes: the count, 0 when the peer ended the stream, -1 on an
    // error or when nothing came within timeoutMs (timedOut says which).
    int64_t read(void* dest, uint32_t n, uint32_t timeoutMs, bool& timedOut);
    // Decrypted bytes are waiting: the next read returns without waiting.
    bool hasBuffered() const;
    // Some of up to n bytes, waiting at most timeoutMs for room: the count
    // taken, or -1 (socketError() then holds a Winsock number,
    // kSockTimedOut when no room came in time).
    int64_t write(const void* bytes, uint32_t n, uint32_t timeoutMs);
    // Sends the closing alert if it can without waiting longer than
    // timeoutMs; the socket itself is not closed.
    void shutdown(uint32_t timeoutMs);

    TlsFailure failure() const { return m_facts->failure; }
    // What went wrong last, for the log ("" when nothing did).
    std::string errorText() const { return m_facts->error; }
    int socketError() const { return m_facts->socketError; }

    // Of an established session: "TLSv1.3", the cipher suite's name, and the
    // subject and issuer of the server's certificate.
    std::string version() const { return m_facts->version; }
    std::string cipher() const { return m_facts->cipher; }
    std::string peerSubject() const { return m_facts->subject; }
    std::string peerIssuer() const { return m_facts->issuer; }

private:
    struct Impl;  // a TlsSessionFacts too
    std::unique_ptr<Impl> m;
    const TlsSessionFacts* m_facts;
};

}  // namespace platform

}  // namespace hanamail
