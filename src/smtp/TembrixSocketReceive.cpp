#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/TembrixSocket.h"

namespace hanamail {

namespace {

constexpr uint32_t kUntilArea = 4000;
constexpr uint32_t kUntilClosedArea = 20000;
constexpr uint32_t kUntilClosedTimeoutMs = 30000;

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Area = std::unique_ptr<unsigned char, FreeDeleter>;

Area allocate(uint32_t n)
{
    return Area(static_cast<unsigned char*>(std::malloc(n ? n : 1)));
}

// The line state of receiveLine and receiveHeaderBlock: a count of the bytes
// of the current line; an LF on an empty line ends the read. With crEndsLine
// a CR empties the line too, so CR LF ends the read.
struct LineScan {
    bool crEndsLine;
    uint32_t lineBytes = 0;
    // True when b ended the read.
    bool feed(unsigned char b)
    {
        if (b == '\n') {
            if (lineBytes == 0) return true;
            lineBytes = 0;
        } else if (b == '\r') {
            if (crEndsLine) lineBytes = 0;
        } else {
            ++lineBytes;
        }
        return false;
    }
};

}  // namespace

void TembrixSocket::peerClosed(LogBase& log)
{
    log.logError("The peer has closed the socket (TCP) connection");
    closeSocket();
}

void TembrixSocket::failRead(LogBase& log)
{
    log.logError("Failed to read data from socket");
}

bool TembrixSocket::receiveSome(unsigned char* dest, uint32_t& count, bool& timedOut, LogBase& log)
{
    const uint32_t room = count;
    count = 0;
    timedOut = false;
    if (!hasSocket()) {
        log.logError("This socket is not connected");
        return false;
    }
    if (room == 0 || !dest) return false;
    const uint32_t waitMs = m_readTimeoutMs == 0 ? 60000 : m_readTimeoutMs;
    if (m_tls) return receiveTls(dest, room, waitMs, count, timedOut, log);
    const int ready = platform::waitReadable(m_handle, waitMs);
    if (ready == 0) {
        log.logDataLong("timeoutMS",
                        static_cast<int32_t>(m_readTimeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFFu : m_readTimeoutMs));
        log.logError("Socket read timeout");
        timedOut = true;
        return false;
    }
    if (ready < 0) {
        peerClosed(log);
        return false;
    }
    const int64_t got = platform::receiveSome(m_handle, dest, room);
    if (got == 0) {
        peerClosed(log);
        return false;
    }
    if (got < 0) {
        StringBuffer why;
        why.appendLastError();
        log.logError(why.getString());
        log.logError("Failed to receive on the TCP socket");
        return false;
    }
    count = static_cast<uint32_t>(got);
    return true;
}

bool TembrixSocket::receiveTls(unsigned char* dest, uint32_t room, uint32_t waitMs, uint32_t& count, bool& timedOut,
                               LogBase& log)
{
    const int64_t got = m_tls->read(dest, room, waitMs, timedOut);
    if (timedOut) {
        log.logDataLong("timeoutMS",
                        static_cast<int32_t>(m_readTimeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFFu : m_readTimeoutMs));
        log.logError("Socket read timeout");
        return false;
    }
    if (got == 0) {
        peerClosed(log);
        return false;
    }
    if (got < 0) {
        log.logData("tls_error", m_tls->errorText().c_str());
        log.logError("Failed to receive on the TCP socket");
        return false;
    }
    count = static_cast<uint32_t>(got);
    return true;
}

bool TembrixSocket::receiveExact(unsigned char* dest, uint32_t count, LogBase& log)
{
    if (count == 0) return true;
    if (!dest) return false;
    // Bytes a line read left behind come first.
    uint32_t have = m_buffer.getSize() < count ? m_buffer.getSize() : count;
    if (have) {
        std::memcpy(dest, m_buffer.getData(), have);
        m_buffer.removePrefix(have);
    }
    while (have < count) {
        uint32_t n = count - have;
        bool timedOut = false;
        if (!receiveSome(dest + have, n, timedOut, log) || n == 0) return false;
        have += n;
    }
    return true;
}

bool TembrixSocket::receiveUntil(StringBuffer& out, const char* terminator, uint32_t chunkSize, bool tailOnly,
                                 LogBase& log, ProgressMonitor* progress, uint32_t maxBytes)
{
    const size_t termLength = terminator ? std::strlen(terminator) : 0;
    if (termLength == 0 || termLength > maxBytes) return false;
    const uint32_t termLen = static_cast<uint32_t>(termLength);
    if (maxBytes > uint32_t(StringBuffer::kMaxLength)) maxBytes = StringBuffer::kMaxLength;
    const uint32_t areaSize = chunkSize > kUntilArea ? chunkSize : kUntilArea;
    const uint32_t readSize = chunkSize ? chunkSize : areaSize;
    Area area = allocate(areaSize);
    if (!area) {
        failRead(log);
        return false;
    }
    uint32_t from = 0;  // where an occurrence not yet looked at can start
    for (;;) {
        const int64_t at = m_buffer.find(terminator, termLen, from, tailOnly);
        if (at >= 0 || m_buffer.getSize() >= maxBytes) {
            const uint64_t end = at >= 0 ? uint64_t(at) + termLen : uint64_t(m_buffer.getSize());
            out.clear();
            if (at < 0 || end > maxBytes || !out.appendN(m_buffer.getData(), static_cast<int32_t>(end))) {
                // Too long to be what the caller reads: the stream is out of step.
                m_buffer.clear();
                out.clear();
                failRead(log);
                return false;
            }
            m_buffer.removePrefix(static_cast<uint32_t>(end));
            return true;
        }
        from = m_buffer.getSize() >= termLen ? m_buffer.getSize() - termLen + 1 : 0;

        uint32_t got = readSize;
        bool timedOut = false;
        const bool ok = receiveSome(area.get(), got, timedOut, log);
        if (timedOut) {
            out.clear();
            const bool kept = out.appendN(m_buffer.getData(), static_cast<int32_t>(m_buffer.getSize()));
            m_buffer.clear();
            return kept && !out.isEmpty();
        }
        if (!ok || got < 1) break;
        if (progress) {
            bool abort = false;
            progress->step(got, abort);
            if (abort) {
                log.logError("Socket read aborted by application");
                return false;
            }
        }
        if (!m_buffer.append(area.get(), got)) break;
    }
    log.logError(isReadable() ? "Failed to read data from socket" : "Socket is no longer readable");
    return false;
}

bool TembrixSocket::receiveUntilClosed(DataBuffer& out, LogBase& log, uint32_t maxBytes)
{
    m_readTimeoutMs = kUntilClosedTimeoutMs;
    if (m_buffer.getSize()) {
        if (!out.append(m_buffer.getData(), m_buffer.getSize())) {
            failRead(log);
            return false;
        }
        m_buffer.clear();
    }
    Area area = allocate(kUntilClosedArea);
    if (!area) {
        failRead(log);
        return false;
    }
    for (;;) {
        uint32_t got = kUntilClosedArea;
        bool timedOut = false;
        if (!receiveSome(area.get(), got, timedOut, log)) break;
        if (!out.append(area.get(), got)) {
            failRead(log);
            return false;
        }
        if (out.getSize() > maxBytes) return false;
    }
    return out.getSize() != 0;
}

bool TembrixSocket::receiveLineWise(DataBuffer& out, bool crEndsLine, uint32_t maxBytes, LogBase& log)
{
    LineScan scan{crEndsLine};
    uint32_t taken = 0;
    // What is already buffered is scanned in place and taken in one piece.
    const uint32_t buffered = m_buffer.getSize();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_buffer.getData());
    bool done = false;
    while (taken < buffered && taken < maxBytes && !done) done = scan.feed(bytes[taken++]);
    if (taken) {
        const bool kept = out.append(bytes, taken);
        m_buffer.removePrefix(taken);
        if (!kept) {
            failRead(log);
            return false;
        }
    }
    while (!done) {
        if (taken >= maxBytes) {
            failRead(log);
            return false;
        }
        unsigned char b = 0;
        if (!receiveExact(&b, 1, log)) return false;
        ++taken;
        if (!out.appendByte(b)) {
            failRead(log);
            return false;
        }
        done = scan.feed(b);
    }
    return true;
}

bool TembrixSocket::receiveHeaderBlock(DataBuffer& out, LogBase& log)
{
    return receiveLineWise(out, false, kMaxHeaderBlock, log);
}

bool TembrixSocket::receiveLine(DataBuffer& out, LogBase& log)
{
    return receiveLineWise(out, true, kMaxLine, log);
}

bool TembrixSocket::receiveCount(uint32_t count, DataBuffer& out, LogBase& log)
{
    if (count == 0 || count > kMaxReceiveCount) return false;
    if (uint64_t(out.getSize()) + count > DataBuffer::kMaxSize) {
        failRead(log);
        return false;
    }
    uint32_t left = count;
    while (left) {
        const uint32_t piece = left < kReceivePiece ? left : kReceivePiece;
        Area area = allocate(piece);
        if (!area || !receiveExact(area.get(), piece, log)) return false;
        if (!out.append(area.get(), piece)) {
            failRead(log);
            return false;
        }
        left -= piece;
    }
    return true;
}

}  // namespace hanamail
