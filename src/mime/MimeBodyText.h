#pragma once
#include <cstdint>
#include <string>

#include "foundation/DataBuffer.h"

namespace hanamail {

class Charset;
class MimeHeader;
class StringBuffer;

// The bytes in which one entity's body is written. Text bodies are held as
// UTF-8 and leave in the entity's charset; text that the charset cannot hold,
// and 8-bit text of an entity without a charset, leaves as UTF-8 instead and
// asks for the header's charset label to say so, so no text is lost and
// none is written mislabelled.
class MimeBodyText {
public:
    MimeBodyText() = default;
    MimeBodyText(const MimeBodyText&) = delete;
    MimeBodyText& operator=(const MimeBodyText&) = delete;

    // rewriteMeta: the META charset declaration of a text/html body is made
    // to name the charset written (on the UTF-8 text, before conversion).
    // False when the bytes could not be made in full (failure() says why):
    // a body too large or memory exhausted, never text the charset lacks.
    bool prepare(const StringBuffer& contentType, const Charset& charset, const DataBuffer& body, bool rewriteMeta);
    BufferFailure failure() const { return m_failure; }

    const unsigned char* data() const { return current().getData(); }
    uint32_t size() const { return current().getSize(); }
    // The charset the header must label the body with instead of its own
    // ("utf-8" for text kept in UTF-8, "gbk" beyond GB2312), or empty.
    const std::string& charsetLabel() const { return m_label; }

    static constexpr const char* kUtf8Label = "utf-8";

    // out becomes a copy of in whose first Content-Type field (any case)
    // carries the charset parameter; a header without one gets
    // "fieldName: text/plain; charset=..." at the end.
    static void copyWithCharsetLabel(const MimeHeader& in, const char* fieldName, const char* charsetName,
                                     MimeHeader& out);
    // out becomes a copy of in whose first Content-Type field carries
    // attribute=value (quoted) in place of the attribute it had, or as its
    // first parameter; false when in has no Content-Type field.
    static bool copyWithParam(const MimeHeader& in, const char* attribute, const char* value, MimeHeader& out);

    // Writes an entity's header (fields under excludedPrefix left out) and the
    // empty line after it; a body that needs a label gets it in the written
    // copy only, and so does a multipart written with a boundary other than
    // its own (newBoundary).
    void writeHeader(const MimeHeader& header, const char* contentTypeName, const char* excludedPrefix,
                     const Charset& cs, StringBuffer& out, const char* newBoundary = nullptr) const;

private:
    const DataBuffer& current() const;
    bool convertTo(int cp, const DataBuffer& utf8);

    const DataBuffer* m_source = nullptr;
    DataBuffer m_rewritten;
    DataBuffer m_converted;
    bool m_useConverted = false;
    std::string m_label;
    BufferFailure m_failure = BufferFailure::None;
};

}  // namespace hanamail
