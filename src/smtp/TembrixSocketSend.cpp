#include "foundation/LogBase.h"
#include "platform/Platform.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/TembrixSocket.h"

namespace hanamail {

namespace {

// Without a progress monitor there is nothing to report between pieces, so
// a piece is the whole encoded block the caller has (one call each).
constexpr uint32_t kPlainPiece = 262144;
// A new socket takes this much at once whatever the link, and progress of
// the first 20 ms is held back anyway: smaller first pieces would only send a
// small message in several segments, each waking the server.
constexpr uint32_t kFirstProgressPiece = 16384;
constexpr uint32_t kSmallestPiece = 1000;
constexpr uint32_t kZeroSendPauseMs = 50;

uint32_t effectiveTimeout(uint32_t ms)
{
    return ms == 0 ? 60000 : ms;
}

}  // namespace

bool TembrixSocket::sendBytes(const unsigned char* bytes, uint32_t count, LogBase& log, ProgressMonitor* progress)
{
    m_lastSendError = 0;
    if (count == 0 || !bytes) return false;
    if (!hasSocket()) {
        log.logError("No socket exists for sending");
        return false;
    }
    return progress ? sendWithProgress(bytes, count, log, *progress) : sendPlain(bytes, count, log);
}

// Each wait for room in the socket is bounded by the read time-out, so a peer
// that stops reading ends the send then.
int64_t TembrixSocket::sendPiece(const unsigned char* bytes, uint32_t n, LogBase& log)
{
    const uint32_t timeout = effectiveTimeout(m_readTimeoutMs);
    const uint32_t start = platform::tickCount();
    int64_t sent;
    int error = 0;
    for (;;) {
        sent = m_tls ? m_tls->write(bytes, n, timeout) : platform::sendSome(m_handle, bytes, n, timeout);
        if (sent < 0) {
            error = m_tls ? m_tls->socketError() : platform::lastSocketError();
            break;
        }
        if (sent > 0) return sent;
        if (platform::tickCount() - start >= timeout) {
            error = platform::kSockTimedOut;
            break;
        }
        platform::sleepMs(kZeroSendPauseMs);
    }
    m_lastSendError = error;
    logSocketError(error, log);
    log.logError("Error sending on socket");
    log.logDataLong("send_size", static_cast<int32_t>(n));
    return -1;
}

bool TembrixSocket::sendPlain(const unsigned char* bytes, uint32_t count, LogBase& log)
{
    uint32_t pos = 0;
    while (pos < count) {
        const uint32_t left = count - pos;
        const int64_t sent = sendPiece(bytes + pos, left < kPlainPiece ? left : kPlainPiece, log);
        if (sent < 0) return false;
        pos += static_cast<uint32_t>(sent);
    }
    return true;
}

// The piece size follows the measured rate (bytes per half second, at most
// twice the last piece); before there is a rate to measure it doubles. Progress of the first 20 ms is held back and
// paid out a tenth at a time with the later pieces, so a fast start does not jump the percentage; what is still held at
// the end is stepped then, so the steps add up to the bytes sent.
bool TembrixSocket::sendWithProgress(const unsigned char* bytes, uint32_t count, LogBase& log,
                                     ProgressMonitor& progress)
{
    uint64_t piece = kFirstProgressPiece;
    uint64_t elapsedMs = 0;
    uint64_t held = 0;
    uint32_t pos = 0;
    bool abort = false;
    while (pos < count) {
        const uint32_t left = count - pos;
        const uint32_t size = piece < left ? static_cast<uint32_t>(piece) : left;
        const uint32_t start = platform::tickCount();
        const int64_t sentNow = sendPiece(bytes + pos, size, log);
        if (sentNow < 0) return false;
        elapsedMs += platform::tickCount() - start;
        const uint32_t sent = static_cast<uint32_t>(sentNow);
        pos += sent;
        if (elapsedMs <= 20) {
            held += sent;
        } else {
            const uint64_t paid = held / 10;
            held -= paid;
            progress.step(static_cast<uint32_t>(sent + paid), abort);
            if (abort) {
                log.logError("Socket send aborted by application");
                return false;
            }
        }
        if (elapsedMs <= 10) {
            // Too fast to measure yet: a link this quick takes larger pieces
            // (a slow one is held back by the socket buffer all the same).
            piece = piece * 2 > kPlainPiece ? kPlainPiece : piece * 2;
        } else {
            const uint64_t rate = uint64_t(pos) * 500 / elapsedMs;
            const uint64_t cap = uint64_t(sent) * 2;
            piece = rate < kSmallestPiece ? kSmallestPiece : (rate > cap ? cap : rate);
            if (piece < kSmallestPiece) piece = kSmallestPiece;
        }
    }
    // Everything is sent: an abort asked for now changes nothing.
    if (held) progress.step(static_cast<uint32_t>(held), abort);
    return true;
}

}  // namespace hanamail
