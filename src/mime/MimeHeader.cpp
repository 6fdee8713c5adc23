#include "mime/MimeHeader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeField.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool equalsNoCase(const char* a, size_t n, const char* b)
{
    size_t i = 0;
    for (; i < n && b[i]; ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return i == n && b[i] == 0;
}

bool beginsWithNoCase(const StringBuffer& s, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (static_cast<size_t>(s.getSize()) < n) return false;
    const char* p = s.getString();
    for (size_t i = 0; i < n; ++i)
        if (asciiLower(p[i]) != asciiLower(prefix[i])) return false;
    return true;
}

bool hasHighBytes(const char* s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return true;
    return false;
}

// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* text, size_t n)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n || s[i + 1] < lo || s[i + 1] > hi) return false;
        for (size_t k = 2; k < len; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        i += len;
    }
    return true;
}

bool convertsToUtf8(int cp, const char* s, size_t n)
{
    if (cp == 0) return false;
    DataBuffer out;
    return EncodingConvert().convert(cp, kUtf8, s, static_cast<uint32_t>(n), out);
}

// The charset of the first encoded word of the given form whose charset is known.
int codePageOfWords(const std::string& h, char letter)
{
    size_t pos = 0;
    while ((pos = h.find("=?", pos)) != std::string::npos) {
        const size_t q = h.find('?', pos + 2);
        if (q == std::string::npos) return 0;
        if (q + 2 < h.size() && asciiUpper(h[q + 1]) == letter && h[q + 2] == '?') {
            std::string name = h.substr(pos + 2, q - pos - 2);
            const size_t star = name.find('*');  // RFC 2231 language suffix
            if (star != std::string::npos) name.resize(star);
            const int cp = charsetToCodePage(name.c_str());
            if (cp != 0) return cp;
        }
        pos += 2;
    }
    return 0;
}

bool containsNoCase(const std::string& h, const char* what)
{
    StringBuffer sb(h.c_str());
    return sb.containsIgnoreCase(what);
}

}  // namespace

MimeHeader::MimeHeader() : m_codePage(0) {}

MimeHeader::~MimeHeader()
{
    m_fields.removeAllObjects();
}

void MimeHeader::Clear()
{
    m_fields.removeAllObjects();
    m_codePage = 0;
}

int MimeHeader::detectCodePage(const char* header, int32_t n)
{
    const std::string h(header, static_cast<size_t>(n));
    if (containsNoCase(h, "?Q?")) {
        if (const int cp = codePageOfWords(h, 'Q')) return cp;
    }
    if (containsNoCase(h, "?B?")) {
        if (const int cp = codePageOfWords(h, 'B')) return cp;
    }
    if (!hasHighBytes(h.data(), h.size())) return 0;
    if (isValidUtf8(h.data(), h.size())) return kUtf8;
    // UTF-8 was tried above; the converter would pass invalid UTF-8 through.
    const int ansi = platform::ansiCodePage();
    if (ansi != kUtf8 && convertsToUtf8(ansi, h.data(), h.size())) return ansi;
    if (convertsToUtf8(28591, h.data(), h.size())) return 28591;
    if (convertsToUtf8(28592, h.data(), h.size())) return 28592;
    return 0;
}

void MimeHeader::LoadFromMimeText(const char* text)
{
    LoadFromMimeText(text, text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

void MimeHeader::LoadFromMimeText(const char* text, int32_t n)
{
    Clear();
    if (!text || n <= 0) return;
    // Line ends become CR LF; NUL bytes cannot be part of any header line.
    std::string norm;
    norm.reserve(static_cast<size_t>(n) + 64);
    for (int32_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\0') continue;
        if (c == '\n') norm += '\r';
        norm += c;
    }
    const size_t end = norm.find("\r\n\r\n");
    if (end != std::string::npos) norm.resize(end);
    m_codePage = detectCodePage(norm.data(), static_cast<int32_t>(norm.size()));

    EncodingConvert convert;
    std::string field;
    auto complete = [&]() {
        if (field.empty()) return;
        std::string utf8;
        // Valid UTF-8 is taken as such even beside words of another charset.
        if (hasHighBytes(field.data(), field.size()) && !isValidUtf8(field.data(), field.size())) {
            int cp = m_codePage != 0 ? m_codePage : platform::ansiCodePage();
            if (cp == kUtf8) cp = 28591;  // not UTF-8 after all; every byte means something in 8859-1
            DataBuffer out;
            convert.convert(cp, kUtf8, field.data(), static_cast<uint32_t>(field.size()), out);
            utf8.assign(reinterpret_cast<const char*>(out.getData()), out.getSize());
            utf8.erase(std::remove(utf8.begin(), utf8.end(), '\0'), utf8.end());
        } else {
            utf8.swap(field);
        }
        field.clear();
        auto* f = new MimeField();
        if (!f->ParseLine(utf8.data(), static_cast<int32_t>(utf8.size()))) {
            delete f;
            return;
        }
        if (f->NameEquals("content-type"))
            replaceWith(f);
        else
            AddField(f);
    };

    size_t pos = 0;
    while (pos <= norm.size()) {
        size_t eol = norm.find("\r\n", pos);
        if (eol == std::string::npos) eol = norm.size();
        const size_t len = eol - pos;
        if (len > 0) {
            const char* line = norm.data() + pos;
            if (len >= 5 && std::memcmp(line, "From ", 5) == 0) {
                // mailbox separator line
            } else if (line[0] == '\t') {
                // This system's own folds: the tab was put there, it is no text.
                field.append(line + 1, len - 1);
            } else if (line[0] == ' ') {
                // Other mailers fold at a space of the text (RFC 5322), which
                // stays, except between two encoded words, where white space
                // means nothing (RFC 2047).
                const bool betweenWords = field.size() >= 2 && field.compare(field.size() - 2, 2, "?=") == 0 &&
                                          len >= 3 && line[1] == '=' && line[2] == '?';
                field.append(betweenWords ? line + 1 : line, betweenWords ? len - 1 : len);
            } else {
                complete();
                field.assign(line, len);
            }
        }
        pos = eol + 2;
    }
    complete();
}

void MimeHeader::AddField(MimeField* field)
{
    if (field && m_fields.append(field) < 0) delete field;
}

void MimeHeader::replaceWith(MimeField* field)
{
    RemoveField(field->name().getString());
    StringBuffer v(field->value());
    v.trim2();
    if (v.isEmpty())
        delete field;
    else
        AddField(field);
}

void MimeHeader::ReplaceField(const char* name, const char* value)
{
    if (!name) return;
    RemoveField(name);
    StringBuffer v(value ? value : "");
    v.trim2();
    if (!v.isEmpty()) AddField(new MimeField(name, value));
}

bool MimeHeader::AppendToLastField(const char* name, const char* text, int32_t n)
{
    auto* last = static_cast<MimeField*>(m_fields.last());
    return name && last && last->NameEquals(name) && last->AppendToValue(text, n);
}

void MimeHeader::RemoveField(const char* name)
{
    if (!name) return;
    for (int32_t i = m_fields.getSize() - 1; i >= 0; --i) {
        auto* f = static_cast<MimeField*>(m_fields.get(i));
        if (f && f->NameEquals(name)) delete static_cast<MimeField*>(m_fields.removeAt(i));
    }
}

bool MimeHeader::HasField(const char* name) const
{
    for (int32_t i = 0; i < m_fields.getSize(); ++i) {
        auto* f = static_cast<MimeField*>(m_fields.get(i));
        if (f && f->NameEquals(name)) return true;
    }
    return false;
}

bool MimeHeader::GetFieldValue(const char* name, StringBuffer& out) const
{
    for (int32_t i = 0; i < m_fields.getSize(); ++i) {
        auto* f = static_cast<MimeField*>(m_fields.get(i));
        if (f && f->NameEquals(name)) {
            out << f->value();
            return true;
        }
    }
    return false;
}

bool MimeHeader::GetFieldParam(const char* name, const char* attribute, StringBuffer& out) const
{
    if (!attribute || !*attribute) return false;
    StringBuffer value;
    if (!GetFieldValue(name, value) || !value.containsIgnoreCase(attribute)) return false;
    const std::string v(value.getString(), static_cast<size_t>(value.getSize()));
    const size_t n = v.size();
    size_t start = 0;
    while (start <= n) {
        // A ";" inside a quoted value does not end the parameter.
        size_t end = start;
        bool quoted = false;
        for (; end < n; ++end) {
            if (v[end] == '\\' && quoted)
                ++end;
            else if (v[end] == '"')
                quoted = !quoted;
            else if (v[end] == ';' && !quoted)
                break;
        }
        if (end > n) end = n;
        const size_t eq = v.find('=', start);
        if (eq != std::string::npos && eq < end) {
            size_t a = start;
            size_t b = eq;
            while (a < b && isWhite(v[a])) ++a;
            while (b > a && isWhite(v[b - 1])) --b;
            if (equalsNoCase(v.data() + a, b - a, attribute)) {
                unquoteParamValue(v.data() + eq + 1, static_cast<int32_t>(end - eq - 1), out);
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

void MimeHeader::unquoteParamValue(const char* value, int32_t n, StringBuffer& out)
{
    if (!value || n <= 0) return;
    size_t a = 0;
    size_t b = static_cast<size_t>(n);
    while (a < b && isWhite(value[a])) ++a;
    while (b > a && isWhite(value[b - 1])) --b;
    if (a == b || value[a] != '"') {
        out << std::string_view(value + a, static_cast<size_t>(b - a));
        return;
    }
    ++a;
    // The closing quote is the last unescaped one (as the writer reads a
    // value): a bare quote before it is text, what follows it is no part of
    // the value.
    std::string r;
    size_t closing = std::string::npos;
    for (size_t i = a; i < b; ++i) {
        if (value[i] == '\\' && i + 1 < b && (value[i + 1] == '"' || value[i + 1] == '\\')) {
            r += value[++i];
        } else {
            if (value[i] == '"') closing = r.size();
            r += value[i];
        }
    }
    if (closing != std::string::npos) r.resize(closing);
    out << std::string_view(r);
}

MimeField* MimeHeader::GetFieldByIndex(int i) const
{
    if (i < 0 || i >= m_fields.getSize()) return nullptr;
    return static_cast<MimeField*>(m_fields.get(i));
}

bool MimeHeader::GetFieldName(int i, StringBuffer& out) const
{
    MimeField* f = GetFieldByIndex(i);
    if (!f) return false;
    out << f->name();
    return true;
}

void MimeHeader::RemoveEmptyFields()
{
    for (int32_t i = m_fields.getSize() - 1; i >= 0; --i) {
        auto* f = static_cast<MimeField*>(m_fields.get(i));
        bool empty = f == nullptr;
        if (f) {
            StringBuffer v(f->value());
            v.trim2();
            empty = v.isEmpty();
        }
        if (empty) delete static_cast<MimeField*>(m_fields.removeAt(i));
    }
}

void MimeHeader::CopyFieldsFrom(const MimeHeader& other)
{
    if (&other == this) return;
    Clear();
    for (int32_t i = 0; i < other.m_fields.getSize(); ++i)
        if (auto* f = static_cast<MimeField*>(other.m_fields.get(i))) AddField(f->Clone());
}

void MimeHeader::MergeFieldsFrom(const MimeHeader& other)
{
    static const char* const kNotMerged[] = {"content-type", "content-transfer-encoding", "received",
                                             "message-id",   "content-disposition",       "content-id"};
    if (&other == this) return;
    // Names present before the merge: duplicates within the other header all come over.
    const int32_t ownCount = m_fields.getSize();
    for (int32_t i = 0; i < other.m_fields.getSize(); ++i) {
        auto* f = static_cast<MimeField*>(other.m_fields.get(i));
        if (!f) continue;
        bool skip = false;
        for (const char* k : kNotMerged) skip = skip || f->NameEquals(k);
        for (int32_t k = 0; k < ownCount && !skip; ++k) {
            auto* own = static_cast<MimeField*>(m_fields.get(k));
            skip = own && own->NameEquals(f->name().getString());
        }
        if (!skip) AddField(f->Clone());
    }
}

void MimeHeader::ReplaceFieldsFrom(const MimeHeader& other)
{
    if (&other == this) return;
    for (int32_t i = 0; i < other.m_fields.getSize(); ++i)
        if (auto* f = static_cast<MimeField*>(other.m_fields.get(i)))
            replaceWith(f->Clone());  // the stored value, not decoded a second time
}

void MimeHeader::write(StringBuffer& out, const char* excludedPrefix, const Charset& charset, bool unfolded) const
{
    Charset own;
    const Charset* used = &charset;
    if (charset.getCodePage() == 0 && m_codePage != 0) {
        own.setByCodePage(m_codePage);
        used = &own;
    }
    const bool exclude = excludedPrefix && *excludedPrefix;
    StringBuffer scratch;
    for (int32_t i = 0; i < m_fields.getSize(); ++i) {
        auto* f = static_cast<MimeField*>(m_fields.get(i));
        if (!f || (exclude && beginsWithNoCase(f->name(), excludedPrefix))) continue;
        scratch.clear();
        if (unfolded)
            f->WriteUnfolded(scratch, *used);
        else
            f->WriteMime(scratch, *used);
        out << scratch;
        out << "\r\n";
    }
    // The caller ends the last line together with the empty line.
    while (out.getSize() > 0 && out.lastChar() == '\n')
        out.shorten(out.getSize() >= 2 && out.getString()[out.getSize() - 2] == '\r' ? 2 : 1);
}

void MimeHeader::WriteMime(StringBuffer& out, const char* excludedPrefix, const Charset& charset) const
{
    write(out, excludedPrefix, charset, false);
}

void MimeHeader::WriteUnfolded(StringBuffer& out, const char* excludedPrefix, const Charset& charset) const
{
    write(out, excludedPrefix, charset, true);
}

}  // namespace hanamail
