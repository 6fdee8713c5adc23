#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "web/HttpClient.h"
#include "web/HttpLimits.h"
#include "web/HttpResponseHeader.h"

namespace hanamail {

namespace {

void failData(const char* which, LogBase& log)
{
    log.logError(which);
}

void overLimit(const char* what, LogBase& log)
{
    log.logData("limit", what);
}

constexpr char kDataA[] = "Failed to get response data (a)";
constexpr char kDataB[] = "Failed to get response data (b)";

enum class ChunkSize { Size, End, Bad };

// The size at the start of a chunk-size line ("1a;name=value\r\n"). A line
// that does not start with a hex number ends the body; a negative size or
// one that does not fit 31 bits cannot be read.
ChunkSize readChunkSize(const DataBuffer& line, uint32_t& size)
{
    const unsigned char* p = line.getData();
    const uint32_t n = line.getSize();
    uint32_t i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\t')) ++i;
    if (i < n && p[i] == '-') return ChunkSize::Bad;
    uint64_t value = 0;
    uint32_t digits = 0;
    for (; i < n; ++i, ++digits) {
        const unsigned char c = p[i];
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            break;
        }
        value = value * 16 + uint64_t(v);
        if (value > 0x7FFFFFFF) return ChunkSize::Bad;
    }
    if (digits == 0) return ChunkSize::End;
    size = static_cast<uint32_t>(value);
    return ChunkSize::Size;
}

bool isEmptyLine(const DataBuffer& line)
{
    const uint32_t n = line.getSize();
    const unsigned char* p = line.getData();
    return n == 0 || (n == 1 && p[0] == '\n') || (n == 2 && p[0] == '\r' && p[1] == '\n');
}

}  // namespace

bool HttpClient::readBody(TembrixSocket& sock, const HttpResponseHeader& response, DataBuffer& body, LogBase& log)
{
    if (response.isChunked()) return readChunked(sock, body, log);
    if (response.badContentLength()) {
        failData(kDataA, log);
        return false;
    }
    if (response.hasContentLength()) {
        const uint32_t length = static_cast<uint32_t>(response.contentLength());
        if (length == 0) return true;
        if (length > HttpLimits::kMaxBody) {
            failData(kDataA, log);
            overLimit("body", log);
            return false;
        }
        if (!sock.receiveCount(length, body, log)) {
            failData(kDataA, log);
            return false;
        }
        return true;
    }
    // Delimited by the server's close: whatever came, up to the bound.
    (void)sock.receiveUntilClosed(body, log, HttpLimits::kMaxBody);
    sock.closeSocket();
    if (body.getSize() > HttpLimits::kMaxBody) {
        failData(kDataA, log);
        overLimit("body", log);
        return false;
    }
    return true;
}

bool HttpClient::readChunked(TembrixSocket& sock, DataBuffer& body, LogBase& log)
{
    for (;;) {
        DataBuffer line;
        if (!sock.receiveLine(line, log)) {
            sock.closeSocket();
            failData(kDataA, log);
            if (line.getSize() >= HttpLimits::kMaxChunkLine) overLimit("chunk_line", log);
            return false;
        }
        uint32_t size = 0;
        switch (readChunkSize(line, size)) {
            case ChunkSize::End: return true;
            case ChunkSize::Bad:
                sock.closeSocket();
                failData(kDataA, log);
                return false;
            case ChunkSize::Size: break;
        }
        if (size == 0) return readTrailer(sock, log);
        if (uint64_t(body.getSize()) + size > HttpLimits::kMaxBody) {
            sock.closeSocket();
            failData(kDataA, log);
            overLimit("body", log);
            return false;
        }
        if (!sock.receiveCount(size, body, log)) {
            sock.closeSocket();
            failData(kDataA, log);
            return false;
        }
        DataBuffer crlf;
        if (!sock.receiveCount(2, crlf, log)) {
            sock.closeSocket();
            failData(kDataB, log);
            return false;
        }
    }
}

// The lines after the last chunk, through the empty one. The body is whole
// by now: a server that closes or stalls here only costs the connection.
bool HttpClient::readTrailer(TembrixSocket& sock, LogBase&)
{
    LogNull quiet;
    uint32_t taken = 0;
    for (;;) {
        DataBuffer line;
        if (!sock.receiveLine(line, quiet)) {
            sock.closeSocket();
            return true;
        }
        taken += line.getSize();
        if (isEmptyLine(line)) return true;
        if (taken > HttpLimits::kMaxHeader) {
            sock.closeSocket();
            return true;
        }
    }
}

}  // namespace hanamail
