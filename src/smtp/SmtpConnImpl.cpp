// The connection and its replies (RFC 5321 sections 3.1, 4.1.1.1, 4.2).
#include "smtp/SmtpConnImpl.h"

#include <strings.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/TembrixSSPI.h"

namespace hanamail {

namespace {

constexpr uint32_t kReplyChunk = 1000;
constexpr int kDefaultReadTimeoutMs = 30000;
constexpr int kMaxReadTimeoutMs = 500000;

// The code of a reply line: its first three bytes as a number, or -1.
int replyCode(const StringBuffer& line)
{
    const char* s = line.getString();
    if (line.getSize() < 3) return -1;
    for (int i = 0; i < 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
    return (s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0');
}

void logTrimmed(const StringBuffer& line, LogBase& log)
{
    StringBuffer t(line.getString());
    t.trim2();
    log.logError(t.getString());
}

struct AuthKeyword {
    const char* word;
    uint16_t flag;
};

const AuthKeyword kAuthKeywords[] = {
    {" LOGIN", SmtpConnImpl::kLogin},
    {" NTLM", SmtpConnImpl::kNtlm},
    {" MSN", SmtpConnImpl::kMsn},
    {" GSSAPI", SmtpConnImpl::kGssapi},
    {" ANONYMOUS", SmtpConnImpl::kAnonymous},
    {" PLAIN", SmtpConnImpl::kPlain},
    {" CRAM-MD5", SmtpConnImpl::kCramMd5},
    {" DIGEST-MD5", SmtpConnImpl::kDigestMd5},
    {" KERBEROS_V4", SmtpConnImpl::kKerberosV4},
};

// Whether the system has a security package of the name: without one the
// exchange would run whatever package comes first.
bool hasSecurityPackage(const char* name)
{
    TembrixSSPI sspi;
    return strcasecmp(sspi.packageName(sspi.findPackageIndex(name)).c_str(), name) == 0;
}

bool isEmpty(const char* s)
{
    return s == nullptr || *s == '\0';
}

}  // namespace

SmtpConnImpl::SmtpConnImpl() = default;

SmtpConnImpl::~SmtpConnImpl()
{
    LogNull quiet;
    static const char kQuit[] = "QUIT\r\n";
    if (sendRaw(reinterpret_cast<const unsigned char*>(kQuit), sizeof kQuit - 1, quiet, nullptr))
        (void)readReply(221, quiet);
}

// ---- Transcript

void SmtpConnImpl::appendTranscript(const unsigned char* bytes, uint32_t n)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    if (n > static_cast<uint32_t>(kTranscriptBlockBytes)) {
        m_transcript << StringBuffer(text, kTranscriptBlockBytes, 0) << "\n...\n";
    } else {
        m_transcript << StringBuffer(text, static_cast<int32_t>(n), 0);
    }
}

void SmtpConnImpl::logTranscript(LogBase& log)
{
    log.logInfo(m_transcript.getString());
}

// ---- Commands and replies

bool SmtpConnImpl::sendRaw(const unsigned char* bytes, uint32_t n, LogBase& log, ProgressMonitor* pm)
{
    appendTranscript(bytes, n);
    return m_socket.sendBytes(bytes, n, log, pm);
}

bool SmtpConnImpl::sendCommand(const char* format, const char* arg, int expected, LogBase& log, int alsoAccepted)
{
    std::string command;
    if (arg == nullptr) {
        command = format;
    } else {
        const char* at = std::strstr(format, "%s");
        command.assign(format, at ? static_cast<size_t>(at - format) : std::strlen(format));
        if (at) {
            command += arg;
            command += at + 2;
        }
    }
    if (command.size() > kMaxCommandBytes) {
        // Cutting would send a different address or command than meant.
        log.logError("SMTP command too long");
        log.logDataLong("command_size", static_cast<int32_t>(command.size()));
        return false;
    }
    if (!sendRaw(reinterpret_cast<const unsigned char*>(command.data()), static_cast<uint32_t>(command.size()), log,
                 nullptr))
        return false;
    return readReply(expected, log, alsoAccepted);
}

bool SmtpConnImpl::readReplyLine(int expected, StringBuffer& line, LogBase& log)
{
    line.clear();
    if (!m_socket.receiveUntil(line, "\n", kReplyChunk, false, log, nullptr)) return false;
    appendTranscript(reinterpret_cast<const unsigned char*>(line.getString()), static_cast<uint32_t>(line.getSize()));
    return replyCode(line) == expected;
}

bool SmtpConnImpl::readReply(int expected, LogBase& log, int alsoAccepted)
{
    int32_t added = 0;
    StringBuffer line;
    for (int lines = 1;; ++lines) {
        line.clear();
        // A bare LF ends a line too: a server that writes them must not stall
        // every reply until the read time-out.
        if (!m_socket.receiveUntil(line, "\n", kReplyChunk, false, log, nullptr)) return false;
        if (added < kMaxReplyTranscriptBytes) {
            appendTranscript(reinterpret_cast<const unsigned char*>(line.getString()),
                             static_cast<uint32_t>(line.getSize()));
            added += line.getSize();
        }
        if (line.getSize() < 4) {
            logTrimmed(line, log);
            return false;
        }
        if (line.getString()[3] != '-') break;
        if (lines >= kMaxReplyLines || added >= kMaxReplyTranscriptBytes) {
            log.logError("SMTP reply too long");
            logTrimmed(line, log);
            return false;
        }
    }
    const int code = replyCode(line);
    if (code == expected || (alsoAccepted >= 0 && code == alsoAccepted)) return true;
    logTrimmed(line, log);
    return false;
}

// ---- Connecting and logging in

void SmtpConnImpl::attachConnectedSocket(platform::SocketHandle handle)
{
    m_socket.attach(handle);
    m_attached = true;
}

bool SmtpConnImpl::readEhloReply(LogBase& log)
{
    StringBuffer line;
    for (int lines = 1; lines <= kMaxReplyLines; ++lines) {
        if (!readReplyLine(250, line, log)) return false;
        const char* s = line.getString();
        if (line.getSize() >= 12 && strncasecmp(s + 4, "STARTTLS", 8) == 0 &&
            (line.getSize() == 12 || std::isspace(static_cast<unsigned char>(s[12]))))
            m_startTlsOffered = true;
        if (line.getSize() >= 8 && strncasecmp(s + 4, "AUTH", 4) == 0) {
            for (const AuthKeyword& k : kAuthKeywords)
                if (line.containsIgnoreCase(k.word)) m_capabilities |= k.flag;
        }
        if (line.getSize() < 4 || s[3] == ' ' || s[3] == '\r' || s[3] == '\n') return true;
    }
    log.logError("SMTP reply too long");
    return false;
}

void SmtpConnImpl::setTls(SmtpTlsMode mode, const platform::TlsSettings& settings)
{
    m_tlsMode = mode;
    m_tlsSettings = settings;
}

bool SmtpConnImpl::sayEhlo(const std::string& clientName, LogBase& log, bool& accepted)
{
    m_capabilities = 0;
    m_startTlsOffered = false;
    const std::string ehlo = "EHLO " + clientName + "\r\n";
    if (!m_socket.sendBytes(reinterpret_cast<const unsigned char*>(ehlo.data()), static_cast<uint32_t>(ehlo.size()),
                            log, nullptr)) {
        log.logError("Failed to send Hello (EHLO)");
        log.logData("hostname", clientName.c_str());
        return false;
    }
    accepted = readEhloReply(log);
    return true;
}

bool SmtpConnImpl::upgradeToTls(const char* host, const std::string& clientName, bool ehloAccepted, LogBase& log)
{
    if (!ehloAccepted || !m_startTlsOffered) {
        if (m_tlsMode == SmtpTlsMode::Auto) return true;
        log.logError("STARTTLS required but not offered by the server.");
        return false;
    }
    log.logInfo("Starting TLS.");
    if (!sendCommand("STARTTLS\r\n", nullptr, 220, log)) {
        log.logError("TLS handshake failed.");
        return false;
    }
    // Whatever came after the 220 was sent in the clear and would be read
    // as if it came over TLS (response injection).
    if (m_socket.receiveBuffer().getSize() > 0 || m_socket.isReadable()) {
        log.logError("The server sent data after its reply to STARTTLS.");
        log.logError("TLS handshake failed.");
        return false;
    }
    if (!m_socket.startTls(host, m_tlsSettings, log)) return false;
    // Nothing said before TLS counts any more (RFC 3207 section 4.2).
    bool accepted = false;
    if (!sayEhlo(clientName, log, accepted)) return false;
    if (!accepted) {
        log.logError("Failed to get response to Hello (EHLO) after STARTTLS");
        return false;
    }
    return true;
}

bool SmtpConnImpl::sayHelo(const char* host, const std::string& clientName, LogBase& log)
{
    log.logData("login_method", "NONE");
    std::string helo = "HELO " + clientName + "\r\n";
    if (!m_socket.sendBytes(reinterpret_cast<const unsigned char*>(helo.data()), static_cast<uint32_t>(helo.size()),
                            log, nullptr)) {
        log.logError("Failed to send Hello");
        return false;
    }
    if (readReply(250, log)) return true;
    log.logError("Failed to get response to Hello (HELO)");
    if (!sendCommand("HELO %s\r\n", host, 250, log)) {
        log.logError("Failed to get response to 2nd-try Hello (HELO)");
        return false;
    }
    return true;
}

bool SmtpConnImpl::login(const char* user, const char* password, const char* domain, LogBase& log)
{
    struct Method {
        uint16_t flag;
        const char* name;
        const char* failure;
    };
    static const Method kMethods[] = {
        {kNtlm, "NTLM", "Failed to login using NTLM method"},
        {kMsn, "MSN", "Failed to login using MSN method"},
        {kLogin, "LOGIN", "Failed to login using LOGIN method"},
        {kCramMd5, "CRAM_MD5", "Failed to login using CRAM-MD5 method"},
        {kPlain, "PLAIN", "Failed to login using PLAIN method"},
        {kDigestMd5, "DIGEST-MD5", "DIGEST-MD5 login method not supported"},
        {kGssapi, "GSSAPI", "GSSAPI login method not supported"},
        {kKerberosV4, "Kerberos-V4", "Kerberos v4 login method not supported"},
        {kAnonymous, "anonymous", "Anonymous login method not supported"},
    };
    const bool haveCredentials = !isEmpty(user) && !isEmpty(password);
    for (const Method& m : kMethods) {
        if (!haveCredentials || (m_capabilities & m.flag) == 0) continue;
        // NTLM and MSN need a security package of that name on this system.
        if ((m.flag == kNtlm || m.flag == kMsn) && !hasSecurityPackage(m.flag == kNtlm ? "NTLM" : "MSN")) continue;
        log.logData("login_method", m.name);
        bool ok;
        switch (m.flag) {
            case kNtlm: ok = authNtlm(domain, user, password, log); break;
            case kMsn: ok = authMsn(domain, user, password, log); break;
            case kLogin: ok = authLogin(user, password, log); break;
            case kCramMd5: ok = authCramMd5(user, password, log); break;
            case kPlain: ok = authPlain(user, password, log); break;
            default:
                // Recognised but not ours to run: the server's replies decide.
                log.logError(m.failure);
                return true;
        }
        if (!ok) log.logInfo(m.failure);
        return ok;
    }
    log.logData("login_method", "NONE or already authenticated");
    return true;
}

bool SmtpConnImpl::connectAndLogin(const char* host, int port, const char* user, const char* password,
                                   const char* domain, const char* method, int connectTimeoutSecs, int readTimeoutMs,
                                   LogBase& log)
{
    if (readTimeoutMs == 0) readTimeoutMs = kDefaultReadTimeoutMs;
    std::string requested = method ? method : "";
    if (isEmpty(user) || isEmpty(password)) {
        user = nullptr;
        password = nullptr;
        requested = "NONE";
    }
    LogContextExit ctx(log, "SMTP_Connect", false);
    if (host == nullptr) {
        log.logError("No hostname");
        return false;
    }
    char line[600];
    std::snprintf(line, sizeof line, "Connecting to SMTP server %.500s:%d", host, port);
    log.logInfo(line);
    log.logData("smtp_host", host);
    log.logDataLong("smtp_port", port);
    if (!isEmpty(domain)) log.logData("domain", domain);
    log.logData("smtp_user", user ? user : "NULL");
    if (!requested.empty()) log.logData("trying_auth_method", requested.c_str());

    if (connectTimeoutSecs != 0) m_socket.setConnectTimeoutS(static_cast<uint32_t>(connectTimeoutSecs));
    m_socket.setReadTimeoutMs(static_cast<uint32_t>(
        readTimeoutMs > kMaxReadTimeoutMs || readTimeoutMs < 0 ? kMaxReadTimeoutMs : readTimeoutMs));
    bool unresolved = false;
    const bool attached = std::exchange(m_attached, false);
    if (!attached &&
        (port < 0 || port > 65535 || !m_socket.connectToHost(host, static_cast<uint16_t>(port), log, unresolved))) {
        log.logError("Failed to connect (1)");
        return false;
    }
    StringBuffer tlsName(host);
    tlsName.trim2();
    if (m_tlsMode == SmtpTlsMode::Implicit) {
        log.logInfo("Starting TLS.");
        if (!m_socket.startTls(tlsName.getString(), m_tlsSettings, log)) return false;
    }
    if (!readReply(220, log)) {
        log.logError("Failed to get initial response");
        log.logError("The SMTP server may be denying access for this domain.");
        return false;
    }

    StringBuffer local;
    (void)m_socket.getLocalHostName(local, log);
    // Without a name, the address this end has on the connection says who
    // we are (RFC 5321 section 4.1.4).
    std::string clientName = local.isEmpty() ? m_socket.localAddressLiteral() : local.getString();
    if (clientName.empty()) clientName = "localhost";
    bool ehloAccepted = false;
    if (!sayEhlo(clientName, log, ehloAccepted)) return false;
    if ((m_tlsMode == SmtpTlsMode::StartTls || m_tlsMode == SmtpTlsMode::Auto) &&
        !upgradeToTls(tlsName.getString(), clientName, ehloAccepted, log))
        return false;

    if (!requested.empty()) {
        StringBuffer m(requested.c_str());
        m.trim2();
        m.toUpperCase();
        static const struct {
            const char* name;
            uint16_t only;
        } kOnly[] = {{"LOGIN", kLogin}, {"PLAIN", kPlain}, {"CRAM-MD5", kCramMd5},
                     {"NTLM", kNtlm},   {"MSN", kMsn},     {"NONE", 0}};
        for (const auto& k : kOnly)
            if (m.equals(k.name)) m_capabilities = k.only;
    }

    std::snprintf(line, sizeof line, "%.500s:%d", host, port);
    if (!ehloAccepted) {
        if (!sayHelo(host, clientName, log)) return false;
        log.logInfo((std::string("CONNECTED to SMTP server ") + line).c_str());
        return true;
    }
    if (!login(user, password, domain, log)) return false;
    log.logInfo((std::string("CONNECTED to ESMTP server ") + line).c_str());
    return true;
}

}  // namespace hanamail
