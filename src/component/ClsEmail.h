#pragma once
#include <string>
#include "foundation/Api.h"

#include "foundation/ClsBase.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeSink.h"
#include "platform/Socket.h"

namespace hanamail {

class DataBuffer;
class Email2;
class XString;

// The email a caller composes: checks and trims the arguments, records every
// operation in its activity log and hands the work to the email model.
// Strings are UTF-8 inside; every result is a value, nothing is thrown.
class ClsEmail : public ClsBase {
public:
    HANAMAIL_API ClsEmail();
    ClsEmail(const ClsEmail&) = delete;
    ClsEmail& operator=(const ClsEmail&) = delete;
    HANAMAIL_API ~ClsEmail() override;

    // ---- Recipients (name may be empty; the address is required)
    HANAMAIL_API bool AddTo(const XString& name, const XString& address);
    HANAMAIL_API bool AddCC(const XString& name, const XString& address);
    HANAMAIL_API bool AddBcc(const XString& name, const XString& address);
    // "To", "CC" or "Bcc" (ASCII case ignored) picks the list; any other
    // type does nothing and leaves the log as it was.
    HANAMAIL_API void AddRecipientOfType(const XString& type, const XString& name, const XString& address);

    // "From", "Reply-To", "Date", "Content-ID" and "Content-Transfer-Encoding"
    // set the message; "Bcc" adds Bcc recipients (never a header line); any
    // other name is stored as a header field. False, with the reason logged
    // and nothing changed, for a name that is not printable ASCII without ":",
    // a date that does not parse, or a From, Reply-To or Bcc value that is
    // not one (Bcc: a list of) usable ASCII mailbox.
    HANAMAIL_API bool AddHeaderField(const XString& name, const XString& value);

    // ---- Bodies
    // Replaces the body with plain text.
    HANAMAIL_API void SetPlainBody(const XString& text);
    // Replaces the body with HTML.
    HANAMAIL_API void SetHtmlBodyFromUtf8(const XString& html);
    // Adds (or replaces) the HTML alternative beside an existing body.
    HANAMAIL_API bool AddHtmlAltBodyUtf8(const XString& html);
    // Adds (or replaces) the plain-text alternative; the charset stays as set.
    HANAMAIL_API bool AddPlainTextAltBodyUtf8(const XString& text);
    // As above, first choosing a charset from the text when the email has none.
    HANAMAIL_API bool AddPlainTextAltBody(const XString& text);
    HANAMAIL_API bool HasPlainTextBody() const;
    HANAMAIL_API bool HasHtmlBody() const;

    // ---- Attachments; outContentType receives the content type chosen.
    HANAMAIL_API bool AddFileAttachment(const XString& fileName, XString& outContentType);
    HANAMAIL_API bool AddDataAttachment(const XString& fileName, const DataBuffer& data, XString& outContentType);
    // The UTF-8 bytes of text become the attachment.
    HANAMAIL_API bool AddStringAttachment(const XString& fileName, const XString& text);
    // Packs the attachments into one zip attachment ("attach.zip" when the
    // name is empty). Attachments that could not be packed stay as they are.
    HANAMAIL_API bool ZipAttachments(const XString& zipFileName);

    // ---- Output
    // False, with "Email too large" or "Out of memory" in the log and an
    // empty text, when the MIME text could not be written in full.
    HANAMAIL_API bool GetMime(XString& outMime);
    // The same text as bytes, without the copy an XString makes.
    HANAMAIL_API bool GetMimeSb(StringBuffer& outMime);
    // The same text sent to sink as it is written, for emails too large to
    // hold twice; false when it could not be made or the sink refused it.
    HANAMAIL_API bool WriteMime(MimeSink& sink);
    // Writes the MIME text to the file (created or replaced).
    HANAMAIL_API bool SaveEml(const XString& fileName);
    // After writing: the info line logged when the charset could not hold
    // every character and UTF-8 was used instead; empty otherwise.
    const StringBuffer& charsetNotice() const { return m_charsetNotice; }

    // ---- XML form
    // The XML form of the message, without an XML declaration; false, with
    // the reason logged and an empty text, when it could not be written.
    HANAMAIL_API bool GetXml(XString& outXml);
    // Writes an XML declaration and the XML form to the file, with LF line ends.
    HANAMAIL_API bool SaveXml(const XString& fileName);
    // Replaces the message with the one the MIME reader makes of the text
    // (which it never refuses); false, the old message staying, when no
    // email could be made. unwrapSecure asks for signed and encrypted
    // content to be opened first, which nothing does yet.
    HANAMAIL_API bool SetFromMimeText(const StringBuffer& mimeUtf8, bool unwrapSecure = false);
    // Replaces the message with the one of the XML form (its "mime_message"
    // element); false, the old message staying, when the text holds none.
    // The parser's complaints go into the log.
    HANAMAIL_API bool SetFromXmlText(const StringBuffer& xmlUtf8);

    // ---- Web page capture
    // Replaces the body with the page at urlOrFile ("http:" or "https:" URL,
    // else an HTML file) and everything it shows, as multipart/related with
    // "cid:" references. Sender, recipients and header fields stay. False,
    // the old message staying as it was, when the page could not be had.
    HANAMAIL_API bool LoadHtmlComplete(const XString& urlOrFile);
    // Connect and read time-outs of the capture's HTTP fetches (10 s each).
    HANAMAIL_API void SetCaptureTimeouts(int connectSeconds, int readSeconds);
    // How the capture verifies "https:" servers: the CA certificates of a PEM
    // file trusted besides the system's ("" for none), or no verification at
    // all (insecure, logged as a warning).
    HANAMAIL_API void SetCaptureCaFile(const XString& path);
    HANAMAIL_API void SetCaptureInsecure(bool insecure);
    // Which addresses of a host the capture's fetches try (Any at first;
    // Ipv4 or Ipv6 forces the family).
    HANAMAIL_API void SetCaptureAddressFamily(platform::AddressFamily family);

    // ---- Charset
    // Empty when the email has none.
    HANAMAIL_API void GetCharset(XString& outName);
    // Always true; a name that is unknown or cannot be written changes nothing.
    HANAMAIL_API bool SetCharset(const XString& charsetName);

    // The message itself, for the mail manager; never null.
    const Email2& email() const { return *m_email; }
    // The text replacements a send applies to its copy.
    const ExtPtrArray& replacements() const { return m_replacements; }

    // Drops the message and starts a new, empty one; the log is kept.
    HANAMAIL_API void ClearMail();

private:
    // The MIME text, or false with the reason logged.
    bool writeMime(StringBuffer& mime);
    bool streamMime(MimeSink& sink);
    // The XML form, or false with the reason logged.
    bool writeXml(StringBuffer& xml);
    // "Out of memory" or "Email too large", as the buffer failed.
    void logBufferFailure(const StringBuffer& text);
    // out = text when written; else out is emptied. Returns written.
    static bool textOut(bool written, const StringBuffer& text, XString& out);
    // The trimmed file name, or false with "The filename parameter is missing".
    bool fileNameParam(const XString& fileName, StringBuffer& name);
    enum class RecipientKind { To, Cc, Bcc };
    bool addRecipient(RecipientKind kind, const char* context, const XString& name, const XString& address);
    void chooseCharsetFor(Email2& node, const XString& text);
    // in as well-formed UTF-8: in itself, or repaired (each ill-formed sequence
    // made U+FFFD) with a line for each in the log when log is set.
    const XString& wellFormed(const XString& in, const char* what, XString& repaired, bool log = true);
    void noteCharsetFallback(const std::string& charset);
    // "<what>[text]" as an error line.
    void logRefused(const char* what, const StringBuffer& text);

    Email2* m_email = nullptr;
    // Text replacement pairs (StringPair); nothing fills them yet.
    ExtPtrArray m_replacements;
    StringBuffer m_charsetNotice;
    int m_captureConnectS = 10;
    int m_captureReadS = 10;
    std::string m_captureCaFile;
    bool m_captureInsecure = false;
    platform::AddressFamily m_captureFamily = platform::AddressFamily::Any;
};

}  // namespace hanamail
