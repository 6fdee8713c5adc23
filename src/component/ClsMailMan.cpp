#include "component/ClsMailMan.h"

#include "component/ClsEmail.h"
#include "foundation/XString.h"

namespace hanamail {

ClsMailMan::ClsMailMan() = default;
ClsMailMan::~ClsMailMan() = default;

void ClsMailMan::get_SmtpHost(XString& out) const
{
    out.setFromUtf8(m_mailMan.smtpHost.getString());
}

void ClsMailMan::put_SmtpHost(const XString& host)
{
    m_mailMan.smtpHost = host.getUtf8();
}

void ClsMailMan::get_SmtpLogin(XString& out) const
{
    out.setFromUtf8(m_mailMan.smtpLogin.getString());
}

void ClsMailMan::put_SmtpLogin(const XString& login)
{
    m_mailMan.smtpLogin = login.getUtf8();
}

void ClsMailMan::get_SmtpPassword(XString& out) const
{
    out.setFromUtf8(m_mailMan.smtpPassword.getString());
}

void ClsMailMan::put_SmtpPassword(const XString& password)
{
    m_mailMan.smtpPassword.secureClear();
    m_mailMan.smtpPassword = password.getUtf8();
}

void ClsMailMan::setSmtpPort(int port)
{
    m_mailMan.smtpPort = port;
    m_mailMan.smtpPortSet = true;
}

void ClsMailMan::setTlsMode(SmtpTlsMode mode)
{
    m_mailMan.tlsMode = mode;
}

SmtpTlsMode ClsMailMan::tlsMode() const
{
    return m_mailMan.tlsMode;
}

void ClsMailMan::setTlsCaFile(const XString& path)
{
    m_mailMan.tlsCaFile = path.getUtf8();
}

void ClsMailMan::setTlsInsecure(bool insecure)
{
    m_mailMan.tlsInsecure = insecure;
}

void ClsMailMan::setConnectTimeout(int seconds)
{
    m_mailMan.connectTimeoutSecs = seconds;
}

void ClsMailMan::setAddressFamily(platform::AddressFamily family)
{
    m_mailMan.addressFamily = family;
}

platform::AddressFamily ClsMailMan::addressFamily() const
{
    return m_mailMan.addressFamily;
}

void ClsMailMan::setReadTimeout(int seconds)
{
    m_mailMan.readTimeoutSecs = seconds;
}

void ClsMailMan::setProgressEvent(ProgressEvent* progress)
{
    m_progress = progress;
}

bool ClsMailMan::SendEmail(const ClsEmail* email)
{
    static const ExtPtrArray kNoReplacements;
    return m_mailMan.SendEmail(email ? &email->email() : nullptr, email ? email->replacements() : kNoReplacements, this,
                               m_log);
}

const std::vector<std::string>& ClsMailMan::refusedAddresses() const
{
    return m_mailMan.refused();
}

void ClsMailMan::percentDone(int percent, bool& abort)
{
    abort = false;
    if (m_progress) m_progress->percentDone(percent, abort);
}

void ClsMailMan::abortCheck(bool& abort)
{
    abort = false;
    if (m_progress) m_progress->abortCheck(abort);
}

}  // namespace hanamail
