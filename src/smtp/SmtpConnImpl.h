#pragma once
// One SMTP client connection (RFC 5321): greeting, EHLO or HELO, SMTP
// authentication (RFC 4954), the mail transactions, QUIT.
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "smtp/PackageExchange.h"
#include "smtp/SmtpTlsMode.h"
#include "smtp/TembrixSocket.h"

namespace hanamail {

class Email2;
class LogBase;
class ProgressMonitor;

class SmtpConnImpl : public PackageExchange {
public:
    SmtpConnImpl();
    SmtpConnImpl(const SmtpConnImpl&) = delete;
    SmtpConnImpl& operator=(const SmtpConnImpl&) = delete;
    // Sends QUIT (its reply is read but not judged) and closes the socket.
    ~SmtpConnImpl() override;

    // Connects, reads the greeting, says EHLO (HELO when refused) and logs in
    // with the first method the server offers that we can run. An empty
    // method lets the offer decide; "NONE" never logs in. readTimeoutMs 0
    // stands for 30 s.
    bool connectAndLogin(const char* host, int port, const char* login, const char* password, const char* domain,
                         const char* method, int connectTimeoutSecs, int readTimeoutMs, LogBase& log);

    // How the next connectAndLogin protects the session (None at first).
    void setTls(SmtpTlsMode mode, const platform::TlsSettings& settings);
    bool tlsActive() const { return m_socket.tlsActive(); }
    // Which addresses of the host the next connectAndLogin tries (Any at first).
    void setAddressFamily(platform::AddressFamily family) { m_socket.setAddressFamily(family); }

    // For tests and fuzzing: the next connectAndLogin talks over this
    // connected handle (its peer plays the server) instead of connecting.
    void attachConnectedSocket(platform::SocketHandle handle);

    // Delivers the email (or mimeText, when given, as its text) to its
    // recipients, or once to each address of the file its TBX-FileDistList
    // field names. The counts add up over every transaction.
    bool sendEmail(Email2& email, const StringBuffer* mimeText, LogBase& log, ProgressMonitor* pm, int& accepted,
                   int& attempted, bool& connectionFailed, bool onePerAddress, bool newMessageId);
    // One MAIL FROM ... end-marker exchange. connectionFailed tells a broken
    // session from one that only lost recipients.
    bool sendTransaction(Email2& email, const StringBuffer* mimeText, LogBase& log, ProgressMonitor* pm, int& accepted,
                         int& attempted, bool& connectionFailed);

    // The command (format with one %s for arg, or the text as it is when arg
    // is null) through sendRaw, then its reply. Refused, never cut, when it
    // would pass kMaxCommandBytes.
    // alsoAccepted: a second code that counts as success (-1: none).
    bool sendCommand(const char* format, const char* arg, int expected, LogBase& log, int alsoAccepted = -1);
    // Into the transcript (cut after kTranscriptBlockBytes), then onto the wire.
    bool sendRaw(const unsigned char* bytes, uint32_t n, LogBase& log, ProgressMonitor* pm);
    // A whole reply, possibly of several lines; true when its code is expected.
    bool readReply(int expected, LogBase& log, int alsoAccepted = -1);
    // Exactly one reply line (its line end included) into line.
    bool readReplyLine(int expected, StringBuffer& line, LogBase& log);

    // ---- Authentication exchanges (after EHLO)
    bool authLogin(const char* login, const char* password, LogBase& log);
    bool authPlain(const char* login, const char* password, LogBase& log);
    bool authCramMd5(const char* login, const char* password, LogBase& log);
    bool authNtlm(const char* domain, const char* login, const char* password, LogBase& log);
    bool authMsn(const char* domain, const char* login, const char* password, LogBase& log);

    bool exchangePackage(const DataBuffer& toSend, DataBuffer& received, LogBase& log) override;
    bool sendFinal(const DataBuffer& toSend, LogBase& log) override;

    const StringBuffer& transcript() const { return m_transcript; }
    // Addresses the server refused (RCPT), in order, since construction.
    const std::vector<std::string>& refusedAddresses() const { return m_refused; }

    // What the server offered after AUTH in its EHLO reply.
    enum Capability : uint16_t {
        kCramMd5 = 1 << 0,
        kAnonymous = 1 << 1,
        kPlain = 1 << 2,
        kLogin = 1 << 3,
        kDigestMd5 = 1 << 4,
        kGssapi = 1 << 5,
        kKerberosV4 = 1 << 6,
        kNtlm = 1 << 7,
        kMsn = 1 << 8,
    };
    uint16_t capabilities() const { return m_capabilities; }

    // A command line is at most this long (RFC 5321 allows 512; we keep the
    // room long addresses need).
    static constexpr uint32_t kMaxCommandBytes = 1999;
    // Of one block sent, the transcript keeps this much.
    static constexpr int32_t kTranscriptBlockBytes = 2500;
    // A reply longer than this many lines, or adding more than this many
    // bytes to the transcript, fails: an endless reply must not hang or
    // exhaust the client.
    static constexpr int kMaxReplyLines = 1000;
    static constexpr int32_t kMaxReplyTranscriptBytes = 64 * 1024;

private:
    bool readEhloReply(LogBase& log);
    bool sayEhlo(const std::string& clientName, LogBase& log, bool& accepted);
    // STARTTLS as the mode asks, after the first EHLO; EHLO again after it.
    bool upgradeToTls(const char* host, const std::string& clientName, bool ehloAccepted, LogBase& log);
    bool sayHelo(const char* host, const std::string& clientName, LogBase& log);
    bool login(const char* login, const char* password, const char* domain, LogBase& log);
    bool runSspi(const char* package, const char* command, const char* commandFailure, const char* exchangeFailure,
                 const char* domain, const char* login, const char* password, LogBase& log);
    // Sends one base64 line of the bytes (credentials: never in the transcript).
    bool sendBase64Line(const unsigned char* bytes, uint32_t n, LogBase& log);
    bool sendBase64Text(const char* text, LogBase& log);
    // Reads the reply; when it is not the one expected, logs failure (and the
    // hint to check the credentials) and the transcript.
    bool replyOrLog(int expected, const char* failure, bool checkCredentials, LogBase& log);
    bool sendRecipients(Email2& email, LogBase& log, ProgressMonitor* pm, int& accepted, int& attempted);
    bool sendMessageText(const unsigned char* text, uint32_t n, LogBase& log, ProgressMonitor* pm);
    void appendTranscript(const unsigned char* bytes, uint32_t n);
    void logTranscript(LogBase& log);

    StringBuffer m_transcript;
    TembrixSocket m_socket;
    uint16_t m_capabilities = 0;
    // The last EHLO reply offered STARTTLS.
    bool m_startTlsOffered = false;
    SmtpTlsMode m_tlsMode = SmtpTlsMode::None;
    platform::TlsSettings m_tlsSettings;
    // Set when a transaction ended with MAIL FROM accepted but no recipient:
    // the next one starts with RSET.
    bool m_transactionOpen = false;
    // Set by attachConnectedSocket until the next connectAndLogin.
    bool m_attached = false;
    std::vector<std::string> m_refused;
};

}  // namespace hanamail
