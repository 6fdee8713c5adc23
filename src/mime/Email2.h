#pragma once
#include <cstdint>

#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "mime/MimeHeader.h"

// One node of the email being composed. The email itself is the root node;
// every sub-part is an Email2 too. Each node carries its header, its body
// (UTF-8 for text parts, the raw content otherwise), its owned sub-parts and
// the entity fields cached from Content-Type, Content-Disposition,
// Content-Transfer-Encoding and Content-ID. A cached field is only ever set
// together with its header field: the setters build the header value from
// the fields.
class Email2 : public TembrixObject {
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
    void SetBody(const void* bytes, uint32_t n);
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

    const StringBuffer& contentType() const { return m_contentType; }
    const StringBuffer& name() const { return m_name; }
    const StringBuffer& protocol() const { return m_protocol; }
    const StringBuffer& micalg() const { return m_micalg; }
    const StringBuffer& boundary() const { return m_boundary; }
    const StringBuffer& smimeType() const { return m_smimeType; }
    const StringBuffer& type() const { return m_type; }
    const Charset& charset() const { return m_charset; }
    bool formatFlowed() const { return m_formatFlowed; }
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
    void WriteMimeText(StringBuffer& out, const char* excludedPrefix) const;

    // Gives every 8-bit text node a transfer encoding by its code page,
    // parents before children.
    static void NormaliseTransferEncodings(Email2& node);

private:
    const Email2* findBody(const char* contentType, bool alternativesOnly) const;
    void writeMimeText(StringBuffer& out, const char* excludedPrefix, const Email2& root, int depth) const;
    Charset headerCharset(const Email2& root, int depth) const;

    MimeHeader m_header;
    DataBuffer m_body;
    ExtPtrArray m_parts;

    StringBuffer m_contentType;
    StringBuffer m_name;
    StringBuffer m_protocol;
    StringBuffer m_micalg;
    StringBuffer m_boundary;
    StringBuffer m_smimeType;
    StringBuffer m_type;
    Charset m_charset;
    bool m_formatFlowed = false;
    StringBuffer m_disposition;
    StringBuffer m_filename;
    StringBuffer m_transferEncoding;
    StringBuffer m_contentId;
};
