#pragma once
#include <cstdint>

#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "mime/ContentTypeValue.h"
#include "mime/MimeHeader.h"

namespace hanamail {

struct BoundaryChain;
class LogBase;
class MimeBodyText;

// A generic MIME entity tree: the parsed form of MIME text, and what the XML
// form and the page capture build and write. The cached fields mirror the
// header: setting one of the four entity fields through SetHeaderField reads
// them again from the new value, and the setters rebuild the header value.
class MimeMessage2 : public TembrixObject, public ContentTypeValue {
public:
    MimeMessage2();
    MimeMessage2(const MimeMessage2&) = delete;
    MimeMessage2& operator=(const MimeMessage2&) = delete;
    ~MimeMessage2() override;

    // Empties the entity: fields, header, body, raw text and sub-parts.
    void Reset();

    // ---- Header
    MimeHeader& header() { return m_header; }
    const MimeHeader& header() const { return m_header; }
    // Both trimmed; an empty value removes the field.
    void SetHeaderField(const char* name, const char* value);
    // Fills the cached fields from Content-Type, Content-Disposition,
    // Content-ID and Content-Transfer-Encoding of the header.
    void ReadCachedFields();

    // ---- Content-Type
    void SetContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                        const Charset& charset, const char* boundary, const char* smimeType, const char* type);
    // Each changes one item and keeps the stored others.
    void SetContentType(const char* contentType);
    void SetName(const char* name);
    void SetType(const char* type);
    void SetCharset(const Charset& charset);
    void SetFormatFlowed(bool on)
    {
        m_formatFlowed = on;
        m_modified = true;
    }

    void SetTransferEncoding(const char* value);

    // ---- Body
    // Decodes base64 or quoted-printable (by encoding, case ignored; anything
    // else is taken as it is), then converts text in charset to UTF-8.
    void SetEncodedBody(const char* encoding, const void* bytes, uint32_t n, const Charset& charset);
    void SetBodyFromText(const void* text, uint32_t n, const Charset& charset);
    const DataBuffer& body() const { return m_body; }

    // The entity's text as it was read, for multipart/signed content that
    // must be written back byte for byte.
    void SetRawText(const char* text, int32_t n);
    const StringBuffer& rawText() const { return m_rawText; }

    // ---- Sub-parts (owned)
    void AddSubPart(MimeMessage2* entity);
    int GetSubPartCount() const { return m_parts.getSize(); }
    // Null out of range.
    MimeMessage2* GetSubPart(int i) const;

    // Whether the top-level multipart text starts with the preamble line.
    void SetPreamble(bool on) { m_preamble = on; }
    bool preamble() const { return m_preamble; }
    bool modified() const { return m_modified; }
    void ClearModified() { m_modified = false; }

    // ---- Cached fields
    // (contentType(), name(), charset() and the other Content-Type fields: ContentTypeValue)
    const StringBuffer& disposition() const { return m_disposition; }
    const StringBuffer& transferEncoding() const { return m_transferEncoding; }
    const StringBuffer& filename() const { return m_filename; }
    const StringBuffer& contentId() const { return m_contentId; }

    bool IsMultipart() const;

    // ---- Output
    // False when the text could not be written in full (out.failure() says why).
    [[nodiscard]] bool WriteMimeText(StringBuffer& out) const;

    // ---- Reading MIME text (MimeParser.cpp)
    // The entity becomes the tree of the n bytes of text (a NUL byte is text
    // too). Reading never fails: malformed text gives the best tree it can,
    // and what had to be given up is said in log.
    void ParseMime(const char* text, uint32_t n, LogBase& log);
    void ParseMime(const char* text, uint32_t n);
    // The body of an entity whose header is loaded: decoded into the body,
    // or split at the boundary into sub-parts.
    void ParseBody(const char* body, uint32_t n, LogBase& log);
    // A multipart body in which no boundary was found, as one entity.
    void ParseAsSingle(const char* text, uint32_t n);
    // Parts deeper than this are kept as the undivided body of their parent.
    static constexpr int kMaxDepth = 64;
    // More sub-parts than this in one multipart are dropped.
    static constexpr int kMaxParts = 10000;
    // Longer boundaries are not looked for (the limit of RFC 2046 is 70).
    static constexpr int kMaxBoundary = 200;

private:
    void parseMime(const char* text, uint32_t n, LogBase& log, int depth);
    void parseBody(const char* body, uint32_t n, LogBase& log, int depth);
    void decodeSingleBody(const char* body, uint32_t n);
    void readContentType();
    void readDisposition();
    void readContentId();
    void readTransferEncoding();
    void writeEntity(StringBuffer& out, bool top, const BoundaryChain* outer) const;
    void writeContent(StringBuffer& out, const MimeBodyText& text, const BoundaryChain& chain) const;
    void writeSigned(StringBuffer& out, const BoundaryChain& chain) const;

    StringBuffer m_rawText;
    bool m_modified = false;
    DataBuffer m_body;
    MimeHeader m_header;
    bool m_preamble = true;
    ExtPtrArray m_parts;

    StringBuffer m_disposition;
    StringBuffer m_transferEncoding;
    StringBuffer m_filename;
    StringBuffer m_contentId;
};

}  // namespace hanamail
