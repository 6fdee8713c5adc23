#pragma once
#include <cstdint>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/BufferLimit.h"

namespace hanamail {

class Charset;
class DataBuffer;
class StringBuffer;

// The write path of one header field: UTF-8 value in, 7-bit folded header
// text out, with encoded words in the email's charset (B form for the wide
// charsets, Q form otherwise), parameters of Content-Type and
// Content-Disposition quoted, and addresses in angle brackets kept readable.
//
// All structure (";", "=", quotes, "<...@...>") is found in the UTF-8 value and
// each piece is converted on its own, so no byte of a multi-byte or shifted
// (ISO-2022) character is ever taken for a separator, and every ISO-2022
// piece carries its own escape sequences.
class HeaderValueWriter {
public:
    // Appends "name: value" without a line end.
    static void renderField(const StringBuffer& name, const StringBuffer& value, const Charset& charset,
                            StringBuffer& out);

    // The charsets written with B words, 7-bit text included.
    static bool isWideCodePage(int cp);

    // A header line may hold 998 octets before its CR LF (RFC 5322 section
    // 2.1.1); longer ones are folded at white space.
    static constexpr size_t kMaxLine = 998;

private:
    HeaderValueWriter(const std::string& fieldName, int cp, const std::string& charsetName);

    void writeValue(const std::string& value, std::string& out);
    void foldPlain(const std::string& text, std::string& line) const;
    void encodeStructuredValue(const std::string& value, std::string& out);
    void encodeParameters(const std::string& rest, std::string& out, std::string& line, std::string& pending);
    void encodeWords(const std::string& segment, std::string& line);
    void appendPlainOrWords(const std::string& chunk, std::string& line);
    void appendWords(const std::string& utf8, std::string& dst);
    void appendParamValue(const std::string& logical, std::string& pending);
    bool isPlainInCharset(const std::string& text);
    bool toCharset(const std::string& utf8, DataBuffer& out);
    bool isRiskyWord(const std::string& text, size_t from, size_t to) const;
    bool hasRiskyWord(const std::string& text) const;
    void writeRiskyPlain(const std::string& text, std::string& line);
    void useWordCharset(const std::string& text);

    std::string m_field;  // lower case
    BufferFailure m_failure = BufferFailure::None;
    int m_cp;
    std::string m_charset;
    bool m_bForm;
    ContentCoding m_coding;
};

}  // namespace hanamail
