#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "foundation/Api.h"

#include "foundation/ClsBase.h"
#include "smtp/MailMan.h"
#include "smtp/ProgressEvent.h"

namespace hanamail {

class ClsEmail;
class XString;

// Delivers emails by SMTP: holds the server settings and sends one email a
// call, each over a new connection. The activity log tells what happened.
class ClsMailMan : public ClsBase, public ProgressEvent {
public:
    HANAMAIL_API ClsMailMan();
    ClsMailMan(const ClsMailMan&) = delete;
    ClsMailMan& operator=(const ClsMailMan&) = delete;
    HANAMAIL_API ~ClsMailMan() override;

    // The server ("localhost" at first) and the credentials; stored as given.
    HANAMAIL_API void get_SmtpHost(XString& out) const;
    HANAMAIL_API void put_SmtpHost(const XString& host);
    HANAMAIL_API void get_SmtpLogin(XString& out) const;
    HANAMAIL_API void put_SmtpLogin(const XString& login);
    HANAMAIL_API void get_SmtpPassword(XString& out) const;
    HANAMAIL_API void put_SmtpPassword(const XString& password);

    // C++ only: the port (25), the connect time-out in seconds (30), the read
    // time-out in seconds (0 stands for 30), and who follows the progress
    // of a send (null: nobody; the object is not owned).
    HANAMAIL_API void setSmtpPort(int port);
    HANAMAIL_API void setConnectTimeout(int seconds);
    HANAMAIL_API void setReadTimeout(int seconds);
    HANAMAIL_API void setProgressEvent(ProgressEvent* progress);
    // C++ only: which addresses of the host a send tries, in the resolver's
    // order (Any at first; Ipv4 or Ipv6 forces the family).
    HANAMAIL_API void setAddressFamily(platform::AddressFamily family);
    HANAMAIL_API platform::AddressFamily addressFamily() const;

    // C++ only: TLS. The mode is SmtpTlsMode::None at first (the dialogue in
    // the clear); Implicit connects to port 465 unless a port was set. The CA
    // file (PEM) adds trust anchors to the system's; insecure turns every
    // certificate check off.
    HANAMAIL_API void setTlsMode(SmtpTlsMode mode);
    HANAMAIL_API SmtpTlsMode tlsMode() const;
    HANAMAIL_API void setTlsCaFile(const XString& path);
    HANAMAIL_API void setTlsInsecure(bool insecure);

    // Sends a copy of the email (the email itself is not changed). False
    // when any recipient did not get it; "Partial send failure." in the log
    // then says that some did.
    HANAMAIL_API bool SendEmail(const ClsEmail* email);
    // The addresses the server refused in the last send.
    HANAMAIL_API const std::vector<std::string>& refusedAddresses() const;

    // ProgressEvent: passed on to the caller's object, if any.
    void percentDone(int percent, bool& abort) override;
    void abortCheck(bool& abort) override;

private:
    MailMan m_mailMan;
    ProgressEvent* m_progress = nullptr;
};

}  // namespace hanamail
