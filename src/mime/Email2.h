#pragma once
#include <cstdint>

#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "mime/ContentTypeValue.h"
#include "mime/DateParser.h"
#include "mime/MimeHeader.h"

namespace hanamail {

struct BoundaryChain;
class ExtPtrArray;
class LogBase;
class MimeMessage2;
class MimeSink;
class Rfc822Address;
class TreeNode;

// One node of the email being composed. The email itself is the root node;
// every sub-part is an Email2 too. Each node carries its header, its body
// (UTF-8 for text parts, the raw content otherwise), its owned sub-parts and
// the entity fields cached from Content-Type, Content-Disposition,
// Content-Transfer-Encoding and Content-ID. A cached field is only ever set
// together with its header field: the setters build the header value from
// the fields.
class Email2 : public TembrixObject, public ContentTypeValue {
public:
    // A bare node: empty header, body and fields.
    Email2();
    Email2(const Email2&) = delete;
    Email2& operator=(const Email2&) = delete;
    ~Email2() override;

    // ---- Header and body
    MimeHeader& header() { return m_header; }
    const MimeHeader& header() const { return m_header; }
    const DataBuffer& body() const { return m_body; }
    // False when the bytes did not fit; the body then remembers the failure
    // and the writer reports it, so callers that cannot report may go on.
    bool SetBody(const void* bytes, uint32_t n);
    // Moves the bytes of from into the body (from is left empty).
    void TakeBody(DataBuffer& from);

    // ---- Entity fields
    // Builds Content-Type from the arguments (null or empty ones are left
    // out); an empty content type keeps the current one, else "text/plain".
    // The charset is recorded for text and message types (code page 0 clears it).
    void SetContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                        const Charset& charset, const char* boundary, const char* smimeType, const char* type);
    // "disposition; filename=\"...\"" (no parameter when filename is null).
    void SetDisposition(const char* disposition, const char* filename);
    void SetTransferEncoding(const char* value);
    void SetContentId(const char* value);
    // Takes effect when Content-Type is next built.
    void SetFormatFlowed(bool on) { m_formatFlowed = on; }
    // contentType(), name(), charset() and the other Content-Type fields: ContentTypeValue.
    const StringBuffer& disposition() const { return m_disposition; }
    const StringBuffer& filename() const { return m_filename; }
    const StringBuffer& transferEncoding() const { return m_transferEncoding; }
    const StringBuffer& contentId() const { return m_contentId; }

    // Content type tests, case ignored: any "multipart..." / exactly these types.
    bool IsMultipart() const;
    bool IsMultipartMixed() const;
    bool IsMultipartAlternative() const;
    bool IsMultipartRelated() const;
    // A part that stands for a file rather than for the message text.
    bool IsAttachmentLike() const;

    // ---- Sub-parts (owned)
    int GetPartCount() const { return m_parts.getSize(); }
    // Null out of range.
    Email2* GetPart(int i) const;
    // Takes ownership; null is ignored.
    void AddPart(Email2* part);
    // Takes ownership; i is clamped to 0..count.
    void InsertPart(int i, Email2* part);
    // Hands the part to the caller; null out of range.
    Email2* DetachPart(int i);
    // Destroys the part.
    void RemovePart(int i);

    // ---- Body parts of the email, searched from this node as root
    // The HTML text: the leaf reached along first sub-parts when it is
    // text/html, or the first text/html alternative of the first
    // multipart/alternative on that path.
    const Email2* FindHtmlBody() const;
    Email2* FindHtmlBody();
    // The same for text/plain; with alternativesOnly a leaf reached along
    // first sub-parts does not count.
    const Email2* FindPlainTextBody(bool alternativesOnly) const;
    Email2* FindPlainTextBody(bool alternativesOnly);

    // ---- Output
    // Appends the node (as root) as MIME text. Header fields whose names begin
    // with excludedPrefix (null: none) are left out, at every depth.
    // False when the text could not be written in full (out.failure() says why).
    [[nodiscard]] bool WriteMimeText(StringBuffer& out, const char* excludedPrefix) const;
    // The same text sent to sink as it is written; out is the working buffer
    // and is left empty. False when a piece could not be made (out.failure()
    // says why) or the sink refused it (out has no failure then).
    [[nodiscard]] bool WriteMimeText(StringBuffer& out, const char* excludedPrefix, MimeSink& sink) const;

    // Gives every 8-bit text node a transfer encoding by its code page,
    // parents before children.
    static void NormaliseTransferEncodings(Email2& node);

    // ---- The email (root) level
    // A new email: the message fields in their order (MIME-Version, Date,
    // Message-ID, Content-Type text/plain, Content-Transfer-Encoding 7bit,
    // X-Mailer, X-Priority). The caller deletes it.
    static Email2* NewEmail();
    // A new part: Content-Type text/plain and Content-Transfer-Encoding 7bit
    // only, as a new email's entity fields without the message fields.
    static Email2* NewPartNode();
    // Removes Date, X-Mailer, X-Priority, MIME-Version and Message-ID.
    void StripMessageFields();
    static constexpr const char* kMailerName = "Tembrix Hanamail Email ActiveX 2.0";

    // Content-Transfer-Encoding, Content-ID, Date, From and Reply-To are
    // settings of the message; Bcc adds to the Bcc list (never a header line);
    // any other name is stored as a header field. False, with nothing
    // changed, for a name that is not printable ASCII without ":", and when
    // the setter refuses the value (a date that does not parse, a sender that
    // is not one usable mailbox, a Bcc list with an unusable address).
    bool AddHeaderField(const char* name, const char* value);
    // Printable ASCII without space or ":".
    static bool isFieldName(const char* name);
    // Removes the field and whatever it stands for (recipients, sender, the
    // cached entity fields).
    void RemoveHeaderField(const char* name);
    // Appends the value of the first field of the name; false when absent.
    bool GetHeaderField(const char* name, StringBuffer& out) const;
    bool GetSubject(StringBuffer& out) const { return GetHeaderField("Subject", out); }

    // One mailbox with an ASCII address; false (nothing changed) when the text
    // holds none, more than one, or control bytes. The friendly name is
    // written as one UTF-8 encoded word.
    bool SetFrom(const char* text);
    bool SetReplyTo(const char* text);
    // The raw From value of read MIME text that did not parse as an address.
    void SetFromText(const char* text) { m_fromText = text ? text : ""; }
    const StringBuffer& fromText() const { return m_fromText; }
    const Rfc822Address* fromAddress() const { return m_from; }
    // The "return-path" field, else the From address; without "<" and ">".
    void GetReturnPath(StringBuffer& out) const;

    enum class Recipients { To, Cc, Bcc };
    // False for an address that is not an ASCII addr-spec. Bcc addresses
    // are never written into the header.
    bool AddTo(const char* name, const char* address) { return addRecipient(Recipients::To, name, address); }
    bool AddCc(const char* name, const char* address) { return addRecipient(Recipients::Cc, name, address); }
    bool AddBcc(const char* name, const char* address) { return addRecipient(Recipients::Bcc, name, address); }
    // A comma-separated list; returns the number of addresses found
    // (duplicates included, though added once).
    int AddToList(const char* text) { return addRecipientList(Recipients::To, text); }
    int AddCcList(const char* text) { return addRecipientList(Recipients::Cc, text); }
    int AddBccList(const char* text) { return addRecipientList(Recipients::Bcc, text); }
    void ClearTo() { clearRecipients(Recipients::To); }
    void ClearCc() { clearRecipients(Recipients::Cc); }
    void ClearBcc() { clearRecipients(Recipients::Bcc); }
    int GetRecipientCount(Recipients kind) const;
    // Null out of range.
    const Rfc822Address* GetRecipient(Recipients kind, int i) const;
    // The getters append to out; false out of range.
    bool GetRecipientFullForm(Recipients kind, int i, StringBuffer& out) const;
    bool GetRecipientAddress(Recipients kind, int i, StringBuffer& out) const;
    bool GetRecipientName(Recipients kind, int i, StringBuffer& out) const;

    // Stored unchanged as Date with the date fields parsed from it; false,
    // with nothing changed, when the text does not parse as a date.
    [[nodiscard]] bool SetDate(const char* text);
    const CalendarTime& date() const { return m_date; }
    void NewMessageId();

    // The text (UTF-8) goes into the body the email's structure offers; an
    // 8-bit text in a node without charset chooses one.
    void SetTextBody(const void* utf8, uint32_t n, bool isHtml);
    // Declares a charset in the HTML when it has none, then stores it as the
    // HTML body.
    void SetHtmlBody(const void* utf8Html, uint32_t n);
    // Adds the part (taking ownership) as an alternative: text/plain first,
    // an alternative of the same type has its text replaced instead.
    void AddAlternativeBody(Email2* part);
    // New parts for AddAlternativeBody; the caller owns them.
    static Email2* NewPlainTextPart(const void* utf8, uint32_t n);
    static Email2* NewHtmlPart(const void* utf8Html, uint32_t n, const Charset& charset);
    // This node's content (or, for a related or mixed node, its first body
    // part's) moves into a new part of a multipart/alternative. Returns the
    // node that became multipart/alternative.
    Email2* ConvertToAlternative();
    // Index of the text/plain alternative, or -1.
    int GetPlainTextAlternativeIndex() const;
    // Appends the body of the first body leaf.
    void GetBodyText(StringBuffer& out) const;

    // The charset of the message and of its HTML and plain-text bodies.
    void SetCharset(const Charset& charset);
    // Appends the message's charset name, adopting the body's first when the
    // message has none.
    void GetCharset(StringBuffer& out);

    [[nodiscard]] bool GetMimeText(StringBuffer& out) const { return WriteMimeText(out, nullptr); }
    int EstimateSize() const;
    // Set by the secure-mail layer only.
    void SetSecureSizeFlags(bool signedMail, bool encryptedMail)
    {
        m_signedSize = signedMail;
        m_encryptedSize = encryptedMail;
    }

    // Takes over other's sender, recipients, date and the header fields it
    // lacks (this email's own recipients and sender are dropped first).
    void CopyAddressingFrom(const Email2& other);

    // --- Attachments ---
    // The root becomes multipart/mixed, its content pushed down one level into
    // a new first sub-part (a multipart root moves all its sub-parts there).
    void ConvertToMixed();
    // The same for a multipart/related root: its parts move into a new
    // multipart/related part, the first sub-part of the mixed root.
    void ConvertRelatedToMixed();
    // Appends the part (taking ownership) to the root, which becomes
    // multipart/mixed first; outContentType is set to the part's content
    // type. False for null.
    bool AddAttachmentPart(Email2* part, StringBuffer& outContentType);
    // Attaches the file's bytes; a null or empty content type is chosen from
    // the extension. False, with the file layer's lines in log and the email
    // unchanged, when the file cannot be read.
    bool AddFileAttachment(const char* path, const char* contentType, StringBuffer& outContentType, class LogBase& log);
    // The same for bytes in memory; a null or empty filename is "attach.dat".
    bool AddDataAttachment(const char* filename, const char* contentType, const void* bytes, uint32_t n,
                           StringBuffer& outContentType);
    // The same for text: when the content type is text, its lines end in CR LF
    // as those of a body do (bytes of other types are kept as they are).
    bool AddTextAttachment(const char* filename, const char* contentType, const void* utf8, uint32_t n,
                           StringBuffer& outContentType);
    // Appends the content type of ext (no dot); false when none is known.
    static bool ContentTypeForExtension(const char* ext, StringBuffer& out);
    // Sets out to the part's file name, else its name, else "attachedFile.dat",
    // with encoded words decoded.
    static void GetAttachmentFilename(const Email2& part, StringBuffer& out);
    // Attachments in depth-first order: attachment-like parts of mixed nodes,
    // strict attachments of related nodes; a single-part root that is itself
    // an attachment is the only one.
    int GetAttachmentCount() const;
    Email2* GetAttachment(int i) const;
    // Destroys every attachment the enumeration above finds among sub-parts.
    void RemoveAttachments();
    // --- end Attachments ---

    // --- Reading (Email2Reader.cpp) ---
    // The email of a parsed MIME tree: sender, recipients (a Bcc field moves
    // into the Bcc list and leaves the entity's header), date, header and
    // cached fields, with uuencoded bodies, AppleDouble wrappers and
    // single-part attachment messages repaired. unwrapSecure asks for signed
    // and encrypted content to be opened first; nothing here does that yet,
    // so such content is read like any other. The caller deletes the email.
    static Email2* ToEmail(MimeMessage2& entity, bool unwrapSecure, LogBase& log);
    // ParseMime of the n bytes, then ToEmail. Null only when memory ran out.
    static Email2* EmailFromMimeText(const char* text, uint32_t n, LogBase& log);
    // A copy made by writing the email and reading it back; the Bcc list,
    // which the text does not carry, is added entry by entry through AddBcc.
    // Null (with a log line) when the email cannot be written.
    Email2* Clone(LogBase& log) const;
    // A copy node for node (header fields, bodies, entity fields, sender,
    // recipients, date), without the text being written and read back: what
    // it writes is what this email writes. Null when memory ran out or a body
    // had already lost bytes (the writer would fail on it).
    Email2* Copy() const;
    // The mail-merge copy: pairs holds StringPair objects (find, replacement),
    // applied in order to text bodies, the Subject and every address; To and
    // Cc are then rebuilt.
    Email2* CloneWithReplacements(const ExtPtrArray& pairs, LogBase& log) const;
    // --- end Reading ---

    // --- XML form (Email2Xml.cpp) ---
    // The email as XML: one element per header field, parameters as
    // attributes, addresses as name and address, bodies transfer-encoded,
    // sub-parts nested. With normalise, text parts get the transfer encodings
    // of their code pages first (NormaliseTransferEncodings). The Bcc list
    // travels as one "bcc" field. Appends to out; false when the header gave
    // no XML or out could not hold it.
    [[nodiscard]] bool GetXml(StringBuffer& out, bool normalise);
    // The email of an XML form, or null (the lines in log, which may be null)
    // when the text holds no "mime_message" element or that element lacks its
    // header or body. The caller deletes it.
    static Email2* ImportXml(const char* text, int32_t n, LogBase* log);
    // Appends the XML of one entity; nothing when its header gives none. A
    // leaf whose encoded body XML cannot carry in CDATA is switched to base64.
    static void WriteXml(MimeMessage2& entity, StringBuffer& out);
    // The entity of the element rootTag (the root, else the first found below
    // it), or null. The caller deletes it.
    static MimeMessage2* ParseXml(const char* text, int32_t n, const char* rootTag, LogBase* log);
    // The entity of one "mime_message" element, or null without "header" and
    // "body"; a multipart without body text gets the preamble line when
    // addPreamble is set.
    static MimeMessage2* ReadEntity(TreeNode& element, bool addPreamble);
    // --- end XML form ---

private:
    // ToEmail at a depth. With plainParams, RFC 2231 parameters are written
    // again as plain ones; the XML form keeps its header text as it stands.
    static Email2* toEmail(MimeMessage2& entity, LogBase& log, int depth, bool plainParams);
    void copyBccFrom(const Email2& other, LogBase& log);
    // The fields of one node and its sub-parts; false when memory ran out.
    bool copyNodeFrom(const Email2& other);
    void replaceInNode(const char* find, const char* replacement);
    void rebuildMergedRecipients(Recipients kind);

    // Adds a file part holding bytes (taken over, the buffer is left empty).
    bool addAttachment(const char* filename, const char* contentType, DataBuffer& bytes, StringBuffer& outContentType,
                       bool textLines = false);
    const Email2* findBody(const char* contentType, bool alternativesOnly) const;
    struct Stream;  // a sink being written to, and whether it refused
    void writeMimeText(StringBuffer& out, const char* excludedPrefix, const Email2& root, int depth, Stream* stream,
                       const BoundaryChain* outer) const;
    Charset headerCharset(const Email2& root, int depth) const;
    void rebuildContentType(const Charset& charset);
    bool addRecipient(Recipients kind, const char* name, const char* address);
    int addRecipientList(Recipients kind, const char* text);
    static bool isUsableAddress(const char* address);
    bool addBccField(const char* value);
    static bool allUsableAddresses(const char* value);
    static bool isEmptyGroup(const char* value);
    // The one mailbox of a From or Reply-To value, or null.
    static Rfc822Address* parseSender(const char* text);
    void clearRecipients(Recipients kind);
    void rebuildRecipientField(Recipients kind);
    ExtPtrArray& recipients(Recipients kind);
    const ExtPtrArray& recipients(Recipients kind) const;
    Email2* bodyLeafFor(Email2* node);

    MimeHeader m_header;
    DataBuffer m_body;
    ExtPtrArray m_parts;

    StringBuffer m_disposition;
    StringBuffer m_filename;
    StringBuffer m_transferEncoding;
    StringBuffer m_contentId;

    // Root fields.
    ExtPtrArray m_to;
    ExtPtrArray m_cc;
    ExtPtrArray m_bcc;
    Rfc822Address* m_from = nullptr;
    StringBuffer m_fromText;
    CalendarTime m_date{};
    bool m_signedSize = false;
    bool m_encryptedSize = false;
};

}  // namespace hanamail
