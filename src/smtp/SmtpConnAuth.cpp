// SMTP authentication (RFC 4954): LOGIN, PLAIN (RFC 4616), CRAM-MD5
// (RFC 2195), and NTLM or MSN through the system's security packages.
// Credential lines go straight to the socket and never into the transcript.
#include <cstring>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/LogBase.h"
#include "smtp/CramMd5.h"
#include "smtp/SmtpConnImpl.h"
#include "smtp/TembrixSSPI.h"

namespace hanamail {

namespace {

constexpr const char* kCheckCredentials = "Check your username/password or your SMTP server's auth settings";

bool credentialsMissing(const char* login, const char* password, LogBase& log)
{
    if (login && *login && password && *password) return false;
    log.logError("Username and/or password is empty");
    return true;
}

// Wipes the secret text it owns when it goes.
class Secret {
public:
    explicit Secret(int32_t capacity) : m_text(capacity) {}
    ~Secret() { m_text.secureClear(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    StringBuffer& text() { return m_text; }

private:
    StringBuffer m_text;
};

void wipe(std::string& s)
{
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
    s.clear();
}

}  // namespace

bool SmtpConnImpl::sendBase64Line(const unsigned char* bytes, uint32_t n, LogBase& log)
{
    Secret line(static_cast<int32_t>(n / 3 * 4 + 16));
    ContentCoding coding;
    if (!coding.encodeBase64Flat(bytes, n, line.text())) return false;
    line.text() << "\r\n";
    if (line.text().hasFailed()) return false;
    return m_socket.sendBytes(reinterpret_cast<const unsigned char*>(line.text().getString()),
                              static_cast<uint32_t>(line.text().getSize()), log, nullptr);
}

bool SmtpConnImpl::authLogin(const char* login, const char* password, LogBase& log)
{
    if (credentialsMissing(login, password, log)) return false;
    if (!sendCommand("AUTH LOGIN\r\n", nullptr, 334, log)) {
        log.logError("Failed to send AUTH LOGIN");
        logTranscript(log);
        return false;
    }
    if (!sendBase64Text(login, log)) {
        log.logError("Failed to send login name");
        return false;
    }
    if (!replyOrLog(334, "Failed to get response to login name", true, log)) return false;
    if (!sendBase64Text(password, log)) {
        log.logError("Failed to send login password");
        return false;
    }
    return replyOrLog(235, "Failed to get response to login password", false, log);
}

bool SmtpConnImpl::sendBase64Text(const char* text, LogBase& log)
{
    return sendBase64Line(reinterpret_cast<const unsigned char*>(text), static_cast<uint32_t>(std::strlen(text)), log);
}

bool SmtpConnImpl::replyOrLog(int expected, const char* failure, bool checkCredentials, LogBase& log)
{
    if (readReply(expected, log)) return true;
    log.logError(failure);
    if (checkCredentials) log.logError(kCheckCredentials);
    logTranscript(log);
    return false;
}

bool SmtpConnImpl::authPlain(const char* login, const char* password, LogBase& log)
{
    if (credentialsMissing(login, password, log)) return false;
    if (!sendCommand("AUTH PLAIN\r\n", nullptr, 334, log)) {
        logTranscript(log);
        return false;
    }
    // authorization identity NUL authentication identity NUL password, in a
    // buffer as long as they need.
    const size_t nl = std::strlen(login), np = std::strlen(password);
    Secret message(static_cast<int32_t>(2 * nl + np + 3));
    StringBuffer& m = message.text();
    const char nul = '\0';
    if (!m.appendN(login, static_cast<int32_t>(nl)) || !m.appendN(&nul, 1) ||
        !m.appendN(login, static_cast<int32_t>(nl)) || !m.appendN(&nul, 1) ||
        !m.appendN(password, static_cast<int32_t>(np)) ||
        !sendBase64Line(reinterpret_cast<const unsigned char*>(m.getString()), static_cast<uint32_t>(m.getSize()),
                        log)) {
        log.logError("Failed to send plain login info");
        return false;
    }
    return replyOrLog(235, "Failed to get response to plain login info", false, log);
}

bool SmtpConnImpl::authCramMd5(const char* login, const char* password, LogBase& log)
{
    if (credentialsMissing(login, password, log)) return false;
    static const char kCommand[] = "AUTH CRAM-MD5\r\n";
    if (!sendRaw(reinterpret_cast<const unsigned char*>(kCommand), sizeof kCommand - 1, log, nullptr)) return false;
    StringBuffer line;
    if (!readReplyLine(334, line, log)) return false;
    DataBuffer challenge;
    ContentCoding coding;
    StringBuffer encoded(line.getSize() > 4 ? line.getString() + 4 : "");
    encoded.trim2();
    if (!encoded.isEmpty() && !coding.decodeBase64Strict(encoded.getString(), encoded.getSize(), challenge)) {
        log.logError("Invalid CRAM-MD5 challenge");
        return false;
    }
    std::string response = cramMd5Response(login, password, challenge.getData(), challenge.getSize());
    const bool sent = sendBase64Line(reinterpret_cast<const unsigned char*>(response.data()),
                                     static_cast<uint32_t>(response.size()), log);
    wipe(response);
    if (!sent) {
        log.logError("Failed to send CRAM-MD5 response");
        return false;
    }
    return replyOrLog(235, "Failed to get CRAM-MD5 response", true, log);
}

bool SmtpConnImpl::runSspi(const char* package, const char* command, const char* commandFailure,
                           const char* exchangeFailure, const char* domain, const char* login, const char* password,
                           LogBase& log)
{
    if (login == nullptr || password == nullptr) return false;
    if (!sendCommand(command, nullptr, 334, log)) {
        log.logError(commandFailure);
        logTranscript(log);
        return false;
    }
    TembrixSSPI sspi;
    const int index = sspi.findPackageIndex(package);
    sspi.setPackageExchange(this);
    const char* dom = domain && *domain ? domain : nullptr;
    if (!sspi.authenticate(index, dom, login, password, log)) {
        log.logError(exchangeFailure);
        return false;
    }
    return true;
}

bool SmtpConnImpl::authNtlm(const char* domain, const char* login, const char* password, LogBase& log)
{
    return runSspi("NTLM", "AUTH NTLM\r\n", "Failed to send AUTH NTLM", "NTLM authentication failed", domain, login,
                   password, log);
}

bool SmtpConnImpl::authMsn(const char* domain, const char* login, const char* password, LogBase& log)
{
    return runSspi("MSN", "AUTH MSN\r\n", "Failed to send AUTH MSN", "MSN authentication failed", domain, login,
                   password, log);
}

bool SmtpConnImpl::exchangePackage(const DataBuffer& toSend, DataBuffer& received, LogBase& log)
{
    if (!sendBase64Line(toSend.getData(), toSend.getSize(), log)) {
        log.logError("exchangePackage: failed to send package on socket");
        return false;
    }
    StringBuffer line;
    if (!readReplyLine(334, line, log)) {
        log.logError("exchangePackage: failed to get success response");
        return false;
    }
    StringBuffer encoded(line.getSize() > 4 ? line.getString() + 4 : "");
    encoded.trim2();
    ContentCoding coding;
    received.clear();
    return encoded.isEmpty() || coding.decodeBase64Strict(encoded.getString(), encoded.getSize(), received);
}

bool SmtpConnImpl::sendFinal(const DataBuffer& toSend, LogBase& log)
{
    if (!sendBase64Line(toSend.getData(), toSend.getSize(), log)) {
        log.logError("sendFinal: failed to send package on socket");
        return false;
    }
    StringBuffer line;
    if (!readReplyLine(235, line, log)) {
        log.logError("Logon denied.  Check username, password, and domain");
        return false;
    }
    return true;
}

}  // namespace hanamail
