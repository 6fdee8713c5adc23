#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;
class StringBuffer;

// The transfer codings of mail: base64 (lined and flat), quoted-printable, and
// the B and Q encoded words of header text. Everything works on bytes; only
// the encoded-word operations look at charsets.
//
// Arrays returned by the *ToNew / decodeBase64 / encodeQ / decodeQ operations
// come from std::malloc and belong to the caller (std::free). They carry a NUL
// after the last byte that the count does not include.
class ContentCoding {
public:
    ContentCoding() = default;
    virtual ~ContentCoding() = default;

    int32_t maxLineLength() const { return m_maxLineLength; }

    // Lines of maxLineLength characters, each line and the last group ended by CR LF.
    // False only when out cannot hold the text.
    [[nodiscard]] bool encodeBase64(const void* bytes, uint32_t n, StringBuffer& out) const;
    [[nodiscard]] bool encodeBase64Flat(const void* bytes, uint32_t n, StringBuffer& out) const;
    [[nodiscard]] char* encodeBase64ToNew(const void* bytes, uint32_t n, uint32_t& count) const;

    // Lenient: anything outside the alphabet is skipped, "=" or NUL ends the text.
    // Null (count 0) for null or empty input.
    [[nodiscard]] unsigned char* decodeBase64(const char* text, uint32_t n, uint32_t& count) const;
    [[nodiscard]] bool decodeBase64ToString(const char* text, StringBuffer& out) const;
    // Only white space may lie between the characters of the alphabet; false
    // (out untouched) otherwise. On success the bytes become out's whole content.
    [[nodiscard]] bool decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out) const;

    [[nodiscard]] bool encodeQuotedPrintable(const void* bytes, uint32_t n, StringBuffer& out) const;
    // The decoded bytes become out's whole content; false (out untouched) for
    // null or empty text or text that begins with NUL.
    [[nodiscard]] bool decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out) const;

    // The text between "?Q?" and "?=". Null for null or empty input.
    [[nodiscard]] char* encodeQ(const void* bytes, uint32_t n, uint32_t& count) const;
    // n <= 0: text is NUL-terminated.
    [[nodiscard]] unsigned char* decodeQ(const char* text, int32_t n, uint32_t& count) const;

    // One word "=?charset?B?...?=" / "=?charset?Q?...?="; the name is written as given.
    void encodeBWord(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
    void encodeQWord(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
    // Long text split into several words joined by CR LF TAB, never inside a character.
    void encodeBWords(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
    void encodeQWords(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
    // One word, B or Q by isBWordCharset; text that already holds encoded words is kept.
    void encodeWordAuto(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;

    // Every encoded word replaced by its text in UTF-8.
    void decodeEncodedWords(StringBuffer& buffer) const;
    // Every encoded word replaced by its bytes, no charset conversion; appended to out.
    void decodeEncodedWordsRaw(const StringBuffer& in, DataBuffer& out) const;

    // The charsets whose words encodeWordAuto writes in the B form (case ignored).
    static bool isBWordCharset(const char* charset);

private:
    void encodeWords(const unsigned char* bytes, uint32_t n, const char* charset, bool bForm, StringBuffer& out) const;

    int32_t m_maxLineLength = 72;
};

}  // namespace hanamail
