/* Hanamail flat C functions.

   One process-wide email and one process-wide mail manager, built when the
   library is loaded. Strings are NUL-terminated text in the ANSI code page
   (UTF-8 on Linux); a null pointer stands for an empty string. Booleans are
   one byte, 1 for success and 0 for failure. After any call, SaveErrorInfo
   writes the activity log of the call's object (the mail manager after
   SendMail, the email after the others) as XML.

   The functions share that state without a lock: call them from one thread
   at a time. The number after each function is its Windows ordinal.

   Linux:  cc app.c $(pkg-config --cflags --libs hanamail)          */
#ifndef HANAMAIL_FLAT_H
#define HANAMAIL_FLAT_H

#ifdef _WIN32
#define HANAMAIL_CALL __stdcall
#ifdef HANAMAIL_DLL_IMPORT
#define HANAMAIL_EXPORT __declspec(dllimport)
#else
#define HANAMAIL_EXPORT
#endif
#else
#define HANAMAIL_CALL
#define HANAMAIL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char HanamailBool;

/* 5: the SMTP server's host name ("localhost" until set); port 25. */
HANAMAIL_EXPORT void HANAMAIL_CALL SetSmtpHost(const char* host);
/* 6: the login name; with a password set too, the send authenticates. */
HANAMAIL_EXPORT void HANAMAIL_CALL SetSmtpLogin(const char* login);
/* 7: the password; it never appears in any log. */
HANAMAIL_EXPORT void HANAMAIL_CALL SetSmtpPassword(const char* password);
/* 8: replaces the body with HTML (an existing plain-text body goes). */
HANAMAIL_EXPORT void HANAMAIL_CALL SetHtmlBody(const char* html);
/* 9: replaces the email with a web page (http: or https: URL) or a local
   HTML file captured whole with its images; the addressing stays. */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL LoadHtmlComplete(const char* fileNameOrUrl);
/* 10: replaces the body with plain text (an existing HTML body goes). */
HANAMAIL_EXPORT void HANAMAIL_CALL SetPlainTextBody(const char* text);
/* 11: a header field, e.g. "Subject", "From", "Reply-To", "Date". */
HANAMAIL_EXPORT void HANAMAIL_CALL AddHeaderField(const char* name, const char* value);
/* 12: type "To", "CC" or "Bcc" (any case); another type does nothing. */
HANAMAIL_EXPORT void HANAMAIL_CALL AddRecipient(const char* type, const char* name, const char* address);
/* 13: writes the XML form of the email to the file, with LF line ends. */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL ExportToXmlFile(const char* fileName);
/* 14: replaces the email with the one of an XML form; a text that holds
   none leaves the email as it was. */
HANAMAIL_EXPORT void HANAMAIL_CALL ImportFromXml(const char* xml);
/* 15: writes the email as MIME text to the file (with "X-Unsent: 1" when
   added as a header field). */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL ExportToMimeFile(const char* fileName);
/* 16: replaces the email with the one read from MIME text. */
HANAMAIL_EXPORT void HANAMAIL_CALL ImportFromMime(const char* mimeText);
/* 18: sends the email to every To, CC and Bcc recipient. */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL SendMail(void);
/* 19: the charset the email is written in, e.g. "iso-2022-jp", "utf-8". */
HANAMAIL_EXPORT void HANAMAIL_CALL SetCharset(const char* charsetName);
/* 22: attaches a file, its content type chosen from its name. */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL AddFileAttachment(const char* fileName);
/* 23: writes the activity log of the last call as XML to the file. */
HANAMAIL_EXPORT HanamailBool HANAMAIL_CALL SaveErrorInfo(const char* fileName);
/* 24: packs every attachment into one zip attachment ("attach.zip" for an
   empty name). */
HANAMAIL_EXPORT void HANAMAIL_CALL ZipAttachments(const char* zipFileName);
/* 25: starts a new, empty email; the SMTP settings stay. */
HANAMAIL_EXPORT void HANAMAIL_CALL ClearMail(void);

#ifdef __cplusplus
}
#endif

#endif
