#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/TlsSession.h"
#include "smtp/ParseBuffer.h"

namespace hanamail {

class DataBuffer;
class LogBase;
class ProgressMonitor;
class StringBuffer;

// The blocking TCP client of the SMTP session and the HTTP client. Every wait
// is bounded by a time-out; failures are a false result and lines in the
// caller's log. Bytes read past a terminator stay in the receive buffer for
// the next read, which every read takes first.
class TembrixSocket {
public:
    static constexpr uint32_t kDefaultReadTimeoutMs = 30000;
    static constexpr uint32_t kDefaultConnectTimeoutS = 7;
    // The longest text receiveUntil returns unless told otherwise (an SMTP
    // reply line), and the bounds of the two byte-wise reads.
    static constexpr uint32_t kMaxReplyLine = 65536;
    static constexpr uint32_t kMaxHeaderBlock = 65536;
    static constexpr uint32_t kMaxLine = 1024;
    static constexpr uint32_t kMaxReceiveCount = 201326592;
    static constexpr uint32_t kReceivePiece = 2200000;

    TembrixSocket();
    TembrixSocket(const TembrixSocket&) = delete;
    TembrixSocket& operator=(const TembrixSocket&) = delete;
    virtual ~TembrixSocket();

    // True when the process's start-up succeeds now, or was tried before.
    static bool startWinsock(LogBase& log);
    static void logSocketError(int code, LogBase& log);

    // A new IPv4 stream socket in place of any open one.
    bool createSocket(LogBase& log);
    // Takes over a connected handle (a socket pair's end, an accepted peer).
    void attach(platform::SocketHandle handle);
    // host is a name, an IPv4 or IPv6 literal, or an IPv6 literal in
    // brackets; every address it resolves to (of the address family set) is
    // tried in the resolver's order within the connect time-out.
    bool connectToHost(const char* host, uint16_t port, LogBase& log, bool& unknownHost);
    // The addresses in turn until one connects, all within the connect
    // time-out; each failure but the last is logged with its address.
    bool connectToAddresses(const std::vector<platform::SocketAddress>& addresses, LogBase& log);
    bool waitWritable(uint32_t seconds, LogBase& log);
    bool isReadable();
    void closeSocket();
    // "" when the system gives no name.
    bool getLocalHostName(StringBuffer& out, LogBase& log);
    // The connected socket's own address as an SMTP address literal
    // ("[127.0.0.1]", "[IPv6:::1]"); "" for none.
    std::string localAddressLiteral() const;

    // TLS over the connected socket, host being the name the certificate
    // must carry; the handshake is bounded by the read time-out. Logs why it
    // failed, or the session's version, cipher and server certificate. From
    // then on every send and receive goes through the session.
    bool startTls(const char* host, const platform::TlsSettings& settings, LogBase& log);
    bool tlsActive() const { return m_tls != nullptr; }

    bool sendBytes(const unsigned char* bytes, uint32_t count, LogBase& log, ProgressMonitor* progress = nullptr);

    bool receiveSome(unsigned char* dest, uint32_t& count, bool& timedOut, LogBase& log);
    bool receiveExact(unsigned char* dest, uint32_t count, LogBase& log);
    // Through the terminator into out (replacing it). Fails when maxBytes
    // pass without the terminator ending within them.
    bool receiveUntil(StringBuffer& out, const char* terminator, uint32_t chunkSize, bool tailOnly, LogBase& log,
                      ProgressMonitor* progress, uint32_t maxBytes = kMaxReplyLine);
    // Stops (false) once out holds more than maxBytes.
    bool receiveUntilClosed(DataBuffer& out, LogBase& log, uint32_t maxBytes = 0xFFFFFFF0u);
    bool receiveHeaderBlock(DataBuffer& out, LogBase& log);
    bool receiveLine(DataBuffer& out, LogBase& log);
    bool receiveCount(uint32_t count, DataBuffer& out, LogBase& log);

    bool isConnected() const { return m_connected != 0; }
    bool hasSocket() const { return m_handle != platform::kInvalidSocket; }
    uint32_t getReadTimeoutMs() const { return m_readTimeoutMs; }
    void setReadTimeoutMs(uint32_t ms) { m_readTimeoutMs = ms; }
    uint32_t getConnectTimeoutS() const { return m_connectTimeoutS; }
    void setConnectTimeoutS(uint32_t s) { m_connectTimeoutS = s; }
    // Which addresses of a name connectToHost tries (Any at first).
    platform::AddressFamily addressFamily() const { return m_family; }
    void setAddressFamily(platform::AddressFamily family) { m_family = family; }
    int getLastSendError() const { return m_lastSendError; }
    const ParseBuffer& receiveBuffer() const { return m_buffer; }

private:
    bool connectAttempt(const platform::SocketAddress& address, uint32_t waitMs, LogBase& log, int& error);
    bool sendPlain(const unsigned char* bytes, uint32_t count, LogBase& log);
    bool sendWithProgress(const unsigned char* bytes, uint32_t count, LogBase& log, ProgressMonitor& progress);
    // One send of up to n bytes: the count sent, or -1 after logging the failure.
    int64_t sendPiece(const unsigned char* bytes, uint32_t n, LogBase& log);
    bool receiveTls(unsigned char* dest, uint32_t room, uint32_t waitMs, uint32_t& count, bool& timedOut, LogBase& log);
    void peerClosed(LogBase& log);
    bool receiveLineWise(DataBuffer& out, bool crEndsLine, uint32_t maxBytes, LogBase& log);
    void failRead(LogBase& log);

    uint8_t m_connected;
    platform::SocketHandle m_handle;
    std::unique_ptr<platform::TlsSession> m_tls;
    ParseBuffer m_buffer;
    uint32_t m_readTimeoutMs;
    uint32_t m_connectTimeoutS;
    int32_t m_lastSendError;
    platform::AddressFamily m_family = platform::AddressFamily::Any;
};

}  // namespace hanamail
