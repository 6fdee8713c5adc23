// The exported flat functions: each works on one process-wide email and mail
// manager, set up when the library is loaded and gone when it is unloaded.
#include "hanamail/hanamail.h"

#include <cstdint>

#include "component/ClsEmail.h"
#include "component/ClsMailMan.h"
#include "foundation/XString.h"

namespace hanamail {

namespace {

// Members are built in this order (mail manager first) and torn down in the
// reverse one. They use no other file's static objects, so neither the order
// of construction across files nor that of destruction at exit matters.
struct FlatState {
    ClsMailMan mailMan;
    ClsEmail email;
    uint8_t mailManFlag = 0;
};

FlatState g_flat;

XString fromAnsi(const char* text)
{
    XString s;
    s.setFromAnsi(text);
    return s;
}

// The object the next SaveErrorInfo reports on.
void toEmail()
{
    g_flat.mailManFlag = 0;
}

HanamailBool flatBool(bool value)
{
    return value ? 1 : 0;
}

void putSetting(void (ClsMailMan::*put)(const XString&), const char* value)
{
    toEmail();
    (g_flat.mailMan.*put)(fromAnsi(value));
}

}  // namespace

}  // namespace hanamail

using hanamail::flatBool;
using hanamail::fromAnsi;
using hanamail::g_flat;
using hanamail::putSetting;
using hanamail::toEmail;

// The SMTP setters leave the flag on the email, unlike the members.
void HANAMAIL_CALL SetSmtpHost(const char* host)
{
    putSetting(&hanamail::ClsMailMan::put_SmtpHost, host);
}

void HANAMAIL_CALL SetSmtpLogin(const char* login)
{
    putSetting(&hanamail::ClsMailMan::put_SmtpLogin, login);
}

void HANAMAIL_CALL SetSmtpPassword(const char* password)
{
    putSetting(&hanamail::ClsMailMan::put_SmtpPassword, password);
}

void HANAMAIL_CALL SetHtmlBody(const char* html)
{
    toEmail();
    g_flat.email.SetHtmlBodyFromUtf8(fromAnsi(html));
}

HanamailBool HANAMAIL_CALL LoadHtmlComplete(const char* fileNameOrUrl)
{
    toEmail();
    return flatBool(g_flat.email.LoadHtmlComplete(fromAnsi(fileNameOrUrl)));
}

void HANAMAIL_CALL SetPlainTextBody(const char* text)
{
    toEmail();
    g_flat.email.SetPlainBody(fromAnsi(text));
}

void HANAMAIL_CALL AddHeaderField(const char* name, const char* value)
{
    toEmail();
    (void)g_flat.email.AddHeaderField(fromAnsi(name), fromAnsi(value));
}

void HANAMAIL_CALL AddRecipient(const char* type, const char* name, const char* address)
{
    toEmail();
    g_flat.email.AddRecipientOfType(fromAnsi(type), fromAnsi(name), fromAnsi(address));
}

HanamailBool HANAMAIL_CALL ExportToXmlFile(const char* fileName)
{
    toEmail();
    return flatBool(g_flat.email.SaveXml(fromAnsi(fileName)));
}

void HANAMAIL_CALL ImportFromXml(const char* xml)
{
    toEmail();
    (void)g_flat.email.SetFromXmlText(fromAnsi(xml).getUtf8Sb());
}

HanamailBool HANAMAIL_CALL ExportToMimeFile(const char* fileName)
{
    toEmail();
    return flatBool(g_flat.email.SaveEml(fromAnsi(fileName)));
}

void HANAMAIL_CALL ImportFromMime(const char* mimeText)
{
    toEmail();
    (void)g_flat.email.SetFromMimeText(fromAnsi(mimeText).getUtf8Sb());
}

HanamailBool HANAMAIL_CALL SendMail(void)
{
    g_flat.mailManFlag = 1;
    return flatBool(g_flat.mailMan.SendEmail(&g_flat.email));
}

void HANAMAIL_CALL SetCharset(const char* charsetName)
{
    toEmail();
    (void)g_flat.email.SetCharset(fromAnsi(charsetName));
}

HanamailBool HANAMAIL_CALL AddFileAttachment(const char* fileName)
{
    toEmail();
    hanamail::XString contentType;
    return flatBool(g_flat.email.AddFileAttachment(fromAnsi(fileName), contentType));
}

HanamailBool HANAMAIL_CALL SaveErrorInfo(const char* fileName)
{
    const hanamail::XString name = fromAnsi(fileName);
    if (g_flat.mailManFlag) return flatBool(g_flat.mailMan.saveErrorXml(name));
    return flatBool(g_flat.email.saveErrorXml(name));
}

void HANAMAIL_CALL ZipAttachments(const char* zipFileName)
{
    toEmail();
    (void)g_flat.email.ZipAttachments(fromAnsi(zipFileName));
}

void HANAMAIL_CALL ClearMail(void)
{
    toEmail();
    g_flat.email.ClearMail();
}
