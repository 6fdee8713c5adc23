#pragma once

#include "charset/Charset.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

// The Content-Type of an entity (RFC 2045 section 5, RFC 2046): the type,
// the parameters an entity keeps as fields, and the writer that builds the
// header value from them. Entity classes hold it as a base so their own code
// reads the fields by name; only the entity sets them, together with its header.
class ContentTypeValue {
public:
    // Which types name a charset, and what stands in for an unknown one.
    enum class CharsetRule {
        // Text, message and a type= of text record the charset; a known one
        // is written, an unknown one left out.
        TextAndMessage,
        // A known charset is written (and recorded) for any type; text
        // without one says "us-ascii".
        AnyTypeUsAsciiText,
    };

    const StringBuffer& contentType() const { return m_contentType; }
    const StringBuffer& name() const { return m_name; }
    const StringBuffer& protocol() const { return m_protocol; }
    const StringBuffer& micalg() const { return m_micalg; }
    const StringBuffer& boundary() const { return m_boundary; }
    const StringBuffer& smimeType() const { return m_smimeType; }
    const StringBuffer& type() const { return m_type; }
    const Charset& charset() const { return m_charset; }
    bool formatFlowed() const { return m_formatFlowed; }

protected:
    ContentTypeValue() = default;
    ~ContentTypeValue() = default;

    // Stores the arguments (null or empty ones are left out; an empty content
    // type keeps the current one, else "text/plain") and writes the header
    // value into value. The arguments may be these very fields.
    void buildContentType(const char* contentType, const char* name, const char* protocol, const char* micalg,
                          const Charset& charset, const char* boundary, const char* smimeType, const char* type,
                          CharsetRule rule, StringBuffer& value);
    // Every field empty, the charset unknown, format=flowed off.
    void clearContentType();

    StringBuffer m_contentType;
    StringBuffer m_name;
    StringBuffer m_protocol;
    StringBuffer m_micalg;
    StringBuffer m_boundary;
    StringBuffer m_smimeType;
    StringBuffer m_type;
    Charset m_charset;
    bool m_formatFlowed = false;

private:
    void appendCharset(const Charset& charset, const StringBuffer& typeParam, CharsetRule rule, StringBuffer& value);
};

}  // namespace hanamail
