#include "smtp/MailMan.h"

#include <memory>

#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "mime/Email2.h"
#include "mime/Rfc822Address.h"
#include "platform/Socket.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/SmtpConnImpl.h"

namespace hanamail {

namespace {

// Progress credits of the steps around the transaction.
constexpr uint32_t kConnectCredit = 200;
constexpr uint32_t kPrepareCredit = 50;

void step(ProgressMonitor& pm, uint32_t amount)
{
    bool abort = false;
    pm.step(amount, abort);
}

// The copy that goes out: replacements applied, and a receipt request when
// the email asks for one. Without replacements it is copied node for node:
// writing the email and reading it back would cost more than the rest of a
// small send, and the text sent would be the one the email itself writes.
Email2* prepare(const Email2& email, const ExtPtrArray& replacements, LogBase& log)
{
    Email2* copy = replacements.getSize() > 0 ? email.CloneWithReplacements(replacements, log) : email.Copy();
    if (!copy) {
        log.logError(replacements.getSize() > 0 ? "Failed to clone with replacements."
                                                : "The email could not be copied");
        return nullptr;
    }
    StringBuffer receipt;
    if (copy->GetHeaderField("TBX-ReturnReceipt", receipt) && receipt.equals("YES") && copy->fromAddress()) {
        StringBuffer to("<");
        to << copy->fromAddress()->address() << ">";
        (void)copy->AddHeaderField("Disposition-Notification-To", to.getString());
    }
    return copy;
}

}  // namespace

MailMan::MailMan() : smtpHost("localhost") {}

bool MailMan::SendEmail(const Email2* email, const ExtPtrArray& replacements, ProgressEvent* progress, LogBase& log)
{
    log.clearLog();
    LogContextExit ctx(log, "SendEmail", true);
    m_refused.clear();
    if (email == nullptr) {
        log.logError("Email parameter is NULL in SendEmail");
        return false;
    }
    const int64_t estimate = email->EstimateSize();
    const int64_t total = estimate * 3 / 2 + kConnectCredit;
    ProgressMonitor pm(progress, total > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(total));
    step(pm, kConnectCredit);
    bool abort = false;

    auto conn = std::make_unique<SmtpConnImpl>();
    platform::TlsSettings tls;
    tls.caFile = tlsCaFile.getString();
    tls.insecure = tlsInsecure;
    conn->setTls(tlsMode, tls);
    conn->setAddressFamily(addressFamily);
    // A port in the host setting ("[::1]:2525") comes before the port setting.
    std::string host;
    int port = 0;
    const bool hostOk = platform::splitHostPort(smtpHost.getString(), host, port);
    if (!hostOk) {
        log.logError("Invalid port in SMTP host");
        log.logData("smtp_host", smtpHost.getString());
    }
    if (port == 0) port = tlsMode == SmtpTlsMode::Implicit && !smtpPortSet ? 465 : smtpPort;
    if (!hostOk || !conn->connectAndLogin(host.c_str(), port, smtpLogin.getString(), smtpPassword.getString(),
                                          ntlmDomain.getString(), authMethod.getString(), connectTimeoutSecs,
                                          readTimeoutSecs * 1000, log)) {
        log.logError("Failed to connect to SMTP server.");
        pm.finish(abort);
        return false;
    }
    step(pm, kConnectCredit);
    std::unique_ptr<Email2> copy(prepare(*email, replacements, log));
    if (!copy) {
        log.logError("Failed to prepare email for sending.");
        pm.finish(abort);
        return false;
    }
    step(pm, kPrepareCredit);
    int accepted = 0, attempted = 0;
    bool connectionFailed = false;
    const bool ok =
        conn->sendEmail(*copy, nullptr, log, &pm, accepted, attempted, connectionFailed, onePerAddress, newMessageId);
    m_refused = conn->refusedAddresses();
    if (ok) {
        pm.finish(abort);
        return true;
    }
    // Some recipients have the message: the caller must not simply send again.
    log.logError(accepted > 0 ? "Partial send failure." : "Send failed.");
    return false;
}

}  // namespace hanamail
