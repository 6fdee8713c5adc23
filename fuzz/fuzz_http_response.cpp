// What HTTP servers answer, through the client's GET. The input opens with
// one byte of choices (credentials, the URL) and is then cut at every
// "\xff\xfe": each piece is what one connection's peer says before it stops
// sending, so retries and redirects get answers of their own. Whatever they
// say, the GET must stay within its attempt count and its bounds, report a
// real status when it succeeds, and never put the password into the log.
// The pieces are also parsed from memory as header blocks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "platform/Socket.h"
#include "web/HttpClient.h"
#include "web/HttpLimits.h"
#include "web/HttpResponseHeader.h"
#include "web/HttpUrl.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

constexpr size_t kMaxStream = 60000;
constexpr char kPassword[] = "pw-Http7secret";

// Connections answered from the input instead of the network.
class CannedClient : public HttpClient {
public:
    explicit CannedClient(std::vector<std::string> pieces) : m_pieces(std::move(pieces)) {}
    ~CannedClient() override
    {
        for (platform::SocketHandle h : m_peers) platform::closeSocket(h);
    }
    size_t connections() const { return m_next; }

protected:
    bool openSocket(TembrixSocket& sock, const char*, int32_t, LogBase&) override
    {
        const std::string piece = m_next < m_pieces.size() ? m_pieces[m_next] : std::string();
        ++m_next;
        platform::SocketHandle ours, peer;
        require(platform::socketPair(ours, peer));
        size_t written = 0;
        while (written < piece.size()) {
            const int64_t n =
                platform::sendSome(peer, piece.data() + written, static_cast<uint32_t>(piece.size() - written), 1000);
            require(n > 0);
            written += static_cast<size_t>(n);
        }
        platform::shutdownSending(peer);
        m_peers.push_back(peer);
        sock.attach(ours);
        sock.setReadTimeoutMs(200);
        return true;
    }

private:
    std::vector<std::string> m_pieces;
    std::vector<platform::SocketHandle> m_peers;
    size_t m_next = 0;
};

bool holdsPassword(const std::string& text)
{
    StringBuffer encoded;
    ContentCoding coding;
    const std::string pair = std::string("joe:") + kPassword;
    require(coding.encodeBase64Flat(pair.data(), static_cast<uint32_t>(pair.size()), encoded));
    return text.find(kPassword) != std::string::npos || text.find(encoded.getString()) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxStream) return 0;
    const uint8_t choice = data[0];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> pieces;
    for (size_t start = 0;;) {
        const size_t cut = input.find("\xff\xfe", start);
        pieces.push_back(input.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
        if (cut == std::string::npos) break;
        start = cut + 2;
    }

    for (const std::string& piece : pieces) {
        HttpResponseHeader h;
        h.parse(reinterpret_cast<const unsigned char*>(piece.data()), static_cast<uint32_t>(piece.size()));
        require(h.statusCode() == 0 || (h.statusCode() >= 100 && h.statusCode() <= 999));
        require(h.contentLength() >= 0);
    }

    Logger log;
    {
        CannedClient client(pieces);
        if (choice & 1) client.setCredentials("joe", kPassword, "www.example.com", 80);
        const char* url = (choice & 2) ? "http://www.example.com/dir/page.htm?x=1" : "www.example.com:80/";
        DataBuffer body;
        StringBuffer charset;
        HttpResponseHeader response;
        const bool ok = client.fetchWithCharset(url, body, charset, log, &response);
        // A first try and at most five more, retries and redirects together.
        require(client.connections() <= 1 + HttpLimits::kMaxAttempts + 1);
        require(body.getSize() <= HttpLimits::kMaxBody);
        if (ok) require(response.statusCode() >= 100 && response.statusCode() <= 999);
        StringBuffer h, l, p, pa, q;
        int32_t po = 0;
        (void)HttpUrl::split(response.url().getString(), h, po, l, p, pa, q);
        require(l.isEmpty() || p.isEmpty());
    }
    StringBuffer logText;
    log.getText(logText);
    if (!holdsPassword(input)) require(!holdsPassword(logText.getString()));
    return 0;
}
