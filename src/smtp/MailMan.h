#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/StringBuffer.h"
#include "platform/Socket.h"
#include "smtp/SmtpTlsMode.h"

namespace hanamail {

class Email2;
class ExtPtrArray;
class LogBase;
class ProgressEvent;

// The settings of SMTP delivery and the driver of one send: connect, log
// in, deliver a copy of the email, QUIT.
class MailMan {
public:
    MailMan();

    StringBuffer smtpHost;
    StringBuffer smtpLogin;
    StringBuffer smtpPassword;
    int smtpPort = 25;
    // Set once a port is given: implicit TLS goes to 465 otherwise.
    bool smtpPortSet = false;
    SmtpTlsMode tlsMode = SmtpTlsMode::None;
    // PEM trust anchors besides the system's; "" for none.
    StringBuffer tlsCaFile;
    // No certificate verification at all (logged as a warning).
    bool tlsInsecure = false;
    StringBuffer ntlmDomain;
    // Empty: the server's offer decides.
    StringBuffer authMethod;
    int connectTimeoutSecs = 30;
    // The addresses of the host tried: every one at first, or IPv4 or IPv6 only.
    platform::AddressFamily addressFamily = platform::AddressFamily::Any;
    // 0 stands for 30 s.
    int readTimeoutSecs = 0;
    bool onePerAddress = true;
    bool newMessageId = true;

    // Sends a copy of the email (with the text replacements applied when
    // there are any). progress may be null. The addresses the server refused
    // are in refused() afterwards.
    bool SendEmail(const Email2* email, const ExtPtrArray& replacements, ProgressEvent* progress, LogBase& log);
    const std::vector<std::string>& refused() const { return m_refused; }

private:
    std::vector<std::string> m_refused;
};

}  // namespace hanamail
