#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class Charset;

// One header field. The value is held as UTF-8 with its encoded words decoded
// and the writer's folds removed; WriteMime encodes and folds it again.
class MimeField : public TembrixObject {
public:
    MimeField() = default;
    MimeField(const char* name, const char* value);
    MimeField(const MimeField&) = delete;
    MimeField& operator=(const MimeField&) = delete;
    ~MimeField() override;

    // "Name: value" of one unfolded line; false (field cleared) without ":".
    bool ParseLine(const char* line);
    bool ParseLine(const char* line, int32_t n);
    // Encoded words in the value are decoded, line breaks of folds removed.
    // Program text that only looks like encoded words (one joined to other
    // text, as in "=?utf-8?B?...?=.txt") is kept as it is: it is text.
    void SetNameValue(const char* name, const char* value);
    // Adds bytes at the end of the value; false when they did not fit.
    bool AppendToValue(const char* bytes, int32_t n) { return m_value.appendN(bytes, n); }
    MimeField* Clone() const;
    // ASCII case-insensitive.
    bool NameEquals(const char* name) const;

    // The getters append to out.
    void GetName(StringBuffer& out) const { out << m_name; }
    void GetValue(StringBuffer& out) const { out << m_value; }
    const StringBuffer& name() const { return m_name; }
    const StringBuffer& value() const { return m_value; }

    // Appends "Name: value" encoded for the charset, folded, without a line end.
    // No CR or LF of the value reaches out except the writer's own folds.
    void WriteMime(StringBuffer& out, const Charset& charset) const;
    // The same with every fold ("\r\n\t") removed.
    void WriteUnfolded(StringBuffer& out, const Charset& charset) const;

    // Fields that carry mailboxes: decoded words in them are escaped for the address parser.
    static bool isAddressFieldName(const char* name);

    // True when some "=?...?=" of the text is joined to other text rather than
    // standing between white space (in structured values also quotes and
    // separators): no encoded word of RFC 2047, though lenient readers would
    // decode it.
    static bool hasJoinedEncodedWord(const char* text, int32_t n, bool structured);

private:
    // decodeLoose: words joined to other text are decoded too (read mail).
    void finishValue(bool decodeLoose);

    StringBuffer m_name;
    StringBuffer m_value;
};

}  // namespace hanamail
