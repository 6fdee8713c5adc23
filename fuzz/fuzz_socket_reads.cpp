// Peer bytes through a real socket pair into the line, header-block, count
// and terminator reads. The input opens with a count of reads and two bytes
// that choose each one; the rest is what the peer sends before it closes.
// While every read succeeds, what they returned must be exactly the start
// of the peer's bytes, each within its bound and ending as it should.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "platform/Socket.h"
#include "smtp/TembrixSocket.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// Keeps the whole input inside the socket pair's buffer, so the peer's
// bytes are all written before the first read.
constexpr size_t kMaxStream = 60000;

const char* const kTerminators[] = {"\r\n", "\n", "\r\n\r\n", "\r\n.\r\n"};
const uint32_t kChunks[] = {1, 7, 1000, 5000};
const uint32_t kLimits[] = {16, 1000, TembrixSocket::kMaxReplyLine, 3};

bool endsWith(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// A header block ends at an LF whose line held nothing but CRs.
bool endsWithEmptyLine(const std::string& s)
{
    if (!endsWith(s, "\n")) return false;
    size_t i = s.size() - 1;
    while (i > 0 && s[i - 1] == '\r') --i;
    return i == 0 || s[i - 1] == '\n';
}

std::string text(const DataBuffer& d)
{
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const size_t reads = 1 + data[0] % 8;
    if (size < 1 + 2 * reads) return 0;
    const uint8_t* choice = data + 1;
    const std::string stream(reinterpret_cast<const char*>(data + 1 + 2 * reads), size - 1 - 2 * reads);
    if (stream.size() > kMaxStream) return 0;

    platform::SocketHandle ours, peer;
    require(platform::socketPair(ours, peer));
    size_t written = 0;
    while (written < stream.size()) {
        const int64_t n =
            platform::sendSome(peer, stream.data() + written, static_cast<uint32_t>(stream.size() - written), 1000);
        require(n > 0);
        written += static_cast<size_t>(n);
    }
    platform::closeSocket(peer);

    TembrixSocket sock;
    sock.attach(ours);
    sock.setReadTimeoutMs(200);
    LogNull log;
    std::string consumed;
    for (size_t i = 0; i < reads; ++i) {
        const uint8_t op = choice[2 * i], arg = choice[2 * i + 1];
        bool ok = false;
        std::string got;
        switch (op % 4) {
            case 0: {
                const char* term = kTerminators[arg % 4];
                const uint32_t limit = kLimits[(arg >> 2) % 4];
                const bool tailOnly = (arg & 0x40) != 0;
                StringBuffer out("old");
                ok = sock.receiveUntil(out, term, kChunks[(op >> 2) % 4], tailOnly, log, nullptr, limit);
                got.assign(out.getString(), static_cast<size_t>(out.getSize()));
                if (ok) {
                    require(got.size() <= limit);
                    require(endsWith(got, term));
                    if (!tailOnly) require(got.find(term) == got.size() - std::strlen(term));
                }
                break;
            }
            case 1:
            case 2: {
                const bool line = op % 4 == 1;
                DataBuffer out;
                ok = line ? sock.receiveLine(out, log) : sock.receiveHeaderBlock(out, log);
                got = text(out);
                require(got.size() <= (line ? TembrixSocket::kMaxLine : TembrixSocket::kMaxHeaderBlock));
                if (ok) require(line ? endsWith(got, "\n") : endsWithEmptyLine(got));
                break;
            }
            default: {
                DataBuffer out;
                const uint32_t count = (uint32_t(op >> 2) << 8) | arg;
                ok = sock.receiveCount(count, out, log);
                got = text(out);
                if (ok) require(got.size() == count);
                if (!ok) require(got.empty());
                break;
            }
        }
        if (!ok) break;
        consumed += got;
        require(consumed.size() <= stream.size() && stream.compare(0, consumed.size(), consumed) == 0);
    }
    return 0;
}
