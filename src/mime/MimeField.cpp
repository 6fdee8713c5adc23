// One header field (RFC 5322 section 2.2; RFC 2047 encoded words in its
// value).
#include "mime/MimeField.h"

#include <cstring>

#include "charset/Charset.h"
#include "charset/ContentCoding.h"
#include "mime/HeaderValueWriter.h"
#include "mime/Rfc822Address.h"

namespace hanamail {

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsNoCase(const char* a, const char* b)
{
    while (*a && *b && asciiLower(*a) == asciiLower(*b)) {
        ++a;
        ++b;
    }
    return *a == 0 && *b == 0;
}

bool isSpaceTab(char c)
{
    return c == ' ' || c == '\t';
}
bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A name can never smuggle a line break or a second colon into the header.
void sanitiseName(StringBuffer& name, bool parsed)
{
    StringBuffer clean(name.getSize() + 1);
    const char* s = name.getString();
    for (int32_t i = 0; i < name.getSize(); ++i) {
        char c = s[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == ':')
            c = '-';
        else if (parsed && (c == ' ' || c == '<' || c == '>' || c == '"' || c == '\''))
            c = '-';
        clean << c;
    }
    name = clean.getString();
}

// Content-Type and Content-Disposition: each encoded word is decoded on its
// own, and inside a quoted value its text gets '"' and '\' escaped, so that a
// file name holding quotes stays one quoted string.
void decodeParameterWords(StringBuffer& value)
{
    const char* s = value.getString();
    const int32_t n = value.getSize();
    StringBuffer result(n + 1);
    ContentCoding cc;
    bool quoted = false;
    bool moreWords = true;  // once a word cannot close, no later one can
    int32_t i = 0;
    while (i < n) {
        const char c = s[i];
        if (c == '\\' && quoted && i + 1 < n) {
            result << std::string_view(s + i, 2);
            i += 2;
            continue;
        }
        if (c == '"') quoted = !quoted;
        if (moreWords && c == '=' && i + 1 < n && s[i + 1] == '?') {
            const char* q = static_cast<const char*>(std::memchr(s + i + 2, '?', static_cast<size_t>(n - i - 2)));
            const int32_t letter = q ? static_cast<int32_t>(q - s) + 1 : n;
            const char* close = letter + 1 < n && s[letter + 1] == '?' ? std::strstr(s + letter + 2, "?=") : nullptr;
            if (!q || (letter + 1 < n && s[letter + 1] == '?' && !close)) moreWords = false;
            if (close) {
                const int32_t end = static_cast<int32_t>(close - s) + 2;
                StringBuffer word(s + i, end - i, 0);
                cc.decodeEncodedWords(word);
                const char* w = word.getString();
                for (int32_t k = 0; k < word.getSize(); ++k) {
                    if (quoted && (w[k] == '"' || w[k] == '\\')) result << '\\';
                    result << w[k];
                }
                i = end;
                continue;
            }
        }
        result << c;
        ++i;
    }
    value = result.getString();
}

}  // namespace

MimeField::MimeField(const char* name, const char* value)
{
    SetNameValue(name, value);
}

MimeField::~MimeField() = default;

bool MimeField::ParseLine(const char* line)
{
    return ParseLine(line, line ? static_cast<int32_t>(std::strlen(line)) : 0);
}

bool MimeField::ParseLine(const char* line, int32_t n)
{
    m_name.clear();
    m_value.clear();
    if (!line || n <= 0) return false;
    const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<size_t>(n)));
    if (!colon) return false;
    const int32_t nameLen = static_cast<int32_t>(colon - line);
    m_name << std::string_view(line, static_cast<size_t>(nameLen));
    m_name.trim();
    int32_t v = nameLen + 1;
    if (v < n && isSpaceTab(line[v])) ++v;
    int32_t end = n;
    while (v < end && isWhite(line[v])) ++v;
    while (end > v && isWhite(line[end - 1])) --end;
    m_value << std::string_view(line + v, static_cast<size_t>(end - v));
    sanitiseName(m_name, true);
    finishValue(true);
    return true;
}

void MimeField::SetNameValue(const char* name, const char* value)
{
    m_name = name ? name : "";
    m_value = value ? value : "";
    sanitiseName(m_name, false);
    finishValue(false);
}

bool MimeField::hasJoinedEncodedWord(const char* text, int32_t n, bool structured)
{
    if (!text) return false;
    auto opens = [structured](char c) {
        return isWhite(c) ||
               (structured && (c == '"' || c == '(' || c == ',' || c == '<' || c == ':' || c == ';' || c == '='));
    };
    auto closes = [structured](char c) {
        return isWhite(c) || (structured && (c == '"' || c == ')' || c == ',' || c == '<' || c == '>' || c == ';'));
    };
    for (int32_t i = 0; i + 1 < n; ++i) {
        if (text[i] != '=' || text[i + 1] != '?') continue;
        const char* close = nullptr;
        for (int32_t k = i + 2; k + 1 < n; ++k) {
            if (text[k] == '?' && text[k + 1] == '=') {
                // "=?charset?Q?text?=": the closing "?=" comes after the third '?'.
                int32_t marks = 0;
                for (int32_t m = i + 2; m < k; ++m) marks += text[m] == '?';
                if (marks >= 2) {
                    close = text + k;
                    break;
                }
            }
        }
        if (!close) return false;
        const int32_t end = static_cast<int32_t>(close - text) + 2;
        if ((i > 0 && !opens(text[i - 1])) || (end < n && !closes(text[end]))) return true;
        i = end - 1;
    }
    return false;
}

void MimeField::finishValue(bool decodeLoose)
{
    const bool hasWords = m_value.containsIgnoreCase("?Q?") || m_value.containsIgnoreCase("?B?");
    const bool structured =
        isAddressFieldName(m_name.getString()) || NameEquals("content-type") || NameEquals("content-disposition");
    if (hasWords && (decodeLoose || !hasJoinedEncodedWord(m_value.getString(), m_value.getSize(), structured))) {
        // Decoded commas and quotes of a display name must not split a mailbox.
        if (isAddressFieldName(m_name.getString()))
            Rfc822Address::decodeEncodedWordsEscaped(m_value);
        else if (NameEquals("content-type") || NameEquals("content-disposition"))
            decodeParameterWords(m_value);
        else
            ContentCoding().decodeEncodedWords(m_value);
    }
    if (m_value.contains("\n")) {
        m_value.replaceAll("\r\n\t", "");
        m_value.replaceAll("\r\n ", "");
    }
}

MimeField* MimeField::Clone() const
{
    auto* f = new MimeField();
    f->m_name << m_name;
    f->m_value << m_value;
    return f;
}

bool MimeField::NameEquals(const char* name) const
{
    return name && equalsNoCase(m_name.getString(), name);
}

void MimeField::WriteMime(StringBuffer& out, const Charset& charset) const
{
    HeaderValueWriter::renderField(m_name, m_value, charset, out);
}

void MimeField::WriteUnfolded(StringBuffer& out, const Charset& charset) const
{
    StringBuffer rendered;
    HeaderValueWriter::renderField(m_name, m_value, charset, rendered);
    rendered.replaceAll("\r\n\t", "");
    out << rendered;
}

bool MimeField::isAddressFieldName(const char* name)
{
    static const char* const kNames[] = {"from",
                                         "to",
                                         "cc",
                                         "bcc",
                                         "reply-to",
                                         "sender",
                                         "return-path",
                                         "resent-from",
                                         "resent-sender",
                                         "resent-to",
                                         "resent-cc",
                                         "resent-bcc",
                                         "resent-reply-to",
                                         "disposition-notification-to",
                                         "return-receipt-to",
                                         "errors-to",
                                         "mail-followup-to",
                                         "mail-reply-to",
                                         "x-rcpt-to"};
    if (!name) return false;
    for (const char* k : kNames)
        if (equalsNoCase(name, k)) return true;
    return false;
}

}  // namespace hanamail
