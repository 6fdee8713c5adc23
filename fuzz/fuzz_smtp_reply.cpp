// The input is everything an SMTP server says, written into one end of a
// socket pair before that end stops sending; the session reads it through
// connect-and-login and one transaction of a small email whose text has
// lines that could end the data early. Whatever the server says, every line
// the client wrote must end in CR LF, the end marker must come at most once,
// and the password must stay out of the log and the transcript (the wire
// carries it, encoded, only when the server asks for it). The session takes
// STARTTLS when offered: whatever follows the 220 must stop it before a
// handshake byte goes out, and a handshake with a peer that has stopped
// sending fails; nothing but the handshake may follow the command.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "platform/Socket.h"
#include "smtp/SmtpConnImpl.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// The peer's bytes and the client's must both fit in a socket buffer, so
// that neither side ever waits for the other to read.
constexpr size_t kMaxStream = 60000;
constexpr char kPassword[] = "pw-Fuzz7secret";

std::unique_ptr<Email2> makeEmail()
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    (void)e->SetFrom("Sender <sender@example.com>");
    (void)e->AddHeaderField("Subject", "fuzz");
    (void)e->AddTo("To One", "to1@example.com");
    (void)e->AddBcc("", "bcc1@example.com");
    static const char kBody[] = ".first\n.\nmid\r.\r\nlast\n.\r\n..x\rend";
    e->SetTextBody(kBody, sizeof kBody - 1, false);
    return e;
}

// Everything the peer received, once the client has closed its end.
std::string drain(platform::SocketHandle s)
{
    std::string wire;
    char piece[4096];
    while (platform::waitReadable(s, 1000) > 0) {
        const int64_t n = platform::receiveSome(s, piece, sizeof piece);
        if (n <= 0) break;
        wire.append(piece, static_cast<size_t>(n));
    }
    return wire;
}

void requireCrLfLines(std::string wire)
{
    // What follows STARTTLS is the client's handshake, not lines.
    const size_t tls = wire.find("STARTTLS\r\n");
    if (tls != std::string::npos) {
        const size_t end = tls + 10;
        require(wire.size() == end || static_cast<unsigned char>(wire[end]) == 0x16 ||
                wire.compare(end, std::string::npos, "QUIT\r\n") == 0);
        wire.resize(end);
    }
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r') require(i + 1 < wire.size() && wire[i + 1] == '\n');
        if (wire[i] == '\n') require(i > 0 && wire[i - 1] == '\r');
    }
    const size_t marker = wire.find("\r\n.\r\n");
    if (marker != std::string::npos) require(wire.find("\r\n.\r\n", marker + 1) == std::string::npos);
}

// The password and its base64 form; the server may echo neither (a reply
// that holds one puts it into the transcript, not the client).
bool holdsPassword(const std::string& text)
{
    StringBuffer encoded;
    ContentCoding coding;
    require(coding.encodeBase64Flat(kPassword, sizeof kPassword - 1, encoded));
    return text.find(kPassword) != std::string::npos || text.find(encoded.getString()) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxStream) return 0;
    platform::SocketHandle ours, peer;
    require(platform::socketPair(ours, peer));
    size_t written = 0;
    while (written < size) {
        const int64_t n = platform::sendSome(peer, data + written, static_cast<uint32_t>(size - written), 1000);
        require(n > 0);
        written += static_cast<size_t>(n);
    }
    platform::shutdownSending(peer);

    Logger log;
    std::string transcript;
    {
        SmtpConnImpl conn;
        conn.attachConnectedSocket(ours);
        conn.setTls(SmtpTlsMode::Auto, platform::TlsSettings{});
        if (conn.connectAndLogin("mail.example.com", 25, "user", kPassword, "DOMAIN", "", 1, 100, log)) {
            std::unique_ptr<Email2> email = makeEmail();
            int accepted = 0, attempted = 0;
            bool connectionFailed = false;
            (void)conn.sendTransaction(*email, nullptr, log, nullptr, accepted, attempted, connectionFailed);
            require(accepted <= attempted);
        }
        transcript = conn.transcript().getString();
    }
    const std::string wire = drain(peer);
    platform::closeSocket(peer);

    requireCrLfLines(wire);
    StringBuffer logText;
    log.getText(logText);
    if (!holdsPassword(std::string(reinterpret_cast<const char*>(data), size))) {
        require(!holdsPassword(logText.getString()));
        require(!holdsPassword(transcript));
    }
    return 0;
}
