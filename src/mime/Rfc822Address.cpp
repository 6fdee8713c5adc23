// Mailboxes and address lists (RFC 5322 section 3.4) with RFC 2047 words in
// display names.
#include "mime/Rfc822Address.h"

#include <cstring>
#include <string>
#include <unordered_set>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"

namespace hanamail {

namespace {

bool isEscapable(char c)
{
    return c == '"' || c == '\\' || c == ',';
}

// Private "8bit" words carry raw UTF-8 bytes (the XML form writes names that way).
void decode8bitWords(StringBuffer& name)
{
    if (!name.containsIgnoreCase("?8bit?")) return;
    DataBuffer raw;
    ContentCoding().decodeEncodedWordsRaw(name, raw);
    name.clear();
    const unsigned char* p = raw.getData();
    for (uint32_t i = 0; i < raw.getSize(); ++i)
        if (p[i] != 0)  // a NUL would silently cut the name for every reader
            name << static_cast<char>(p[i]);
}

// Removes what an address never holds: spaces and control bytes.
void stripAddress(StringBuffer& address)
{
    StringBuffer clean;
    const char* s = address.getString();
    for (int32_t i = 0; i < address.getSize(); ++i)
        if (!Rfc822ParseHelp::isAddressTerminator(static_cast<unsigned char>(s[i]))) clean << s[i];
    address = clean.getString();
}

void appendQuotedName(StringBuffer& out, const StringBuffer& name)
{
    out << '"';
    const char* s = name.getString();
    for (int32_t i = 0; i < name.getSize(); ++i) {
        if (s[i] == '"' || s[i] == '\\') out << '\\';
        out << s[i];
    }
    out << "\" <";
}

bool hasHighBytes(const StringBuffer& s)
{
    const char* p = s.getString();
    for (int32_t i = 0; i < s.getSize(); ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return true;
    return false;
}

// Odd run of backslashes directly before i (not reaching below from) escapes s[i].
bool escapedAt(const char* s, int32_t from, int32_t i)
{
    int32_t run = 0;
    while (i - run - 1 >= from && s[i - run - 1] == '\\') ++run;
    return (run & 1) != 0;
}

}  // namespace

bool Rfc822ParseHelp::hasControlBytes(const char* text)
{
    if (!text) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p < 0x20 || *p == 0x7F) return true;
    return false;
}

namespace {

bool isAtext(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

// Atoms joined by dots; runs of dots are let through, as mail systems do.
bool isDotAtoms(const char* s, size_t n)
{
    if (n == 0 || s[0] == '.' || s[n - 1] == '.') return false;
    for (size_t i = 0; i < n; ++i)
        if (s[i] != '.' && !isAtext(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool isPrintableAscii(unsigned char c)
{
    return c >= 0x20 && c < 0x7F;
}

}  // namespace

bool Rfc822ParseHelp::isAsciiAddrSpec(const char* text, size_t n)
{
    if (!text || n == 0) return false;
    size_t at = n;
    while (at > 0 && text[at - 1] != '@') --at;
    if (at == 0) return false;
    const char* local = text;
    const size_t localLen = at - 1;
    const char* domain = text + at;
    const size_t domainLen = n - at;
    if (localLen == 0 || domainLen == 0) return false;

    bool localOk;
    if (localLen >= 2 && local[0] == '"' && local[localLen - 1] == '"') {
        localOk = true;
        for (size_t i = 1; i + 1 < localLen && localOk; ++i) {
            const unsigned char c = static_cast<unsigned char>(local[i]);
            if (!isPrintableAscii(c)) {
                localOk = false;
            } else if (c == '\\') {
                ++i;
                localOk = i + 1 < localLen && isPrintableAscii(static_cast<unsigned char>(local[i]));
            } else if (c == '"') {
                localOk = false;
            }
        }
    } else {
        localOk = isDotAtoms(local, localLen);
    }
    if (!localOk) return false;

    if (domain[0] == '[') {
        if (domainLen < 3 || domain[domainLen - 1] != ']') return false;
        for (size_t i = 1; i + 1 < domainLen; ++i) {
            const unsigned char c = static_cast<unsigned char>(domain[i]);
            if (c <= 0x20 || c >= 0x7F || c == '[' || c == ']' || c == '\\') return false;
        }
        return true;
    }
    return isDotAtoms(domain, domainLen);
}

Rfc822Address::Rfc822Address() : m_valid(false) {}

Rfc822Address::Rfc822Address(const char* name, const char* address) : m_valid(false)
{
    Create(name, address);
}

Rfc822Address::~Rfc822Address() = default;

void Rfc822Address::Create(const char* name, const char* address)
{
    m_fullText.clear();
    m_name.clear();
    m_address.clear();
    if (name) {
        m_name << name;
        decode8bitWords(m_name);
    }

    const char* arg = address ? address : "";
    const char* lt = std::strchr(arg, '<');
    const char* begin = lt ? lt + 1 : arg;
    const char* gt = std::strrchr(begin, '>');
    const size_t len = gt ? static_cast<size_t>(gt - begin) : std::strlen(begin);
    m_address << std::string_view(begin, static_cast<size_t>(len < StringBuffer::kMaxLength ? len : 0));
    // Control bytes go too: whatever the caller checked, they must never reach RCPT TO.
    stripAddress(m_address);

    if (name) {
        m_fullText << '"';
        m_fullText << m_name;
        m_fullText << "\" <";
        m_fullText << arg;
        m_fullText << '>';
    } else {
        m_fullText << arg;
    }

    m_name.trim();
    m_address.trim();
    if (m_name.equals(m_address.getString())) m_name.clear();
    m_valid = true;
}

Rfc822Address* Rfc822Address::Parse(const char* text)
{
    if (!text || !*text) return nullptr;
    StringBuffer full(text);
    if (full.containsIgnoreCase("undisclosed recipient") || full.containsIgnoreCase("undisclosed-recipient"))
        return nullptr;
    full.trim();
    const char* s = full.getString();
    const int32_t n = full.getSize();

    int32_t at = n - 1;
    while (at >= 0 && s[at] != '@') --at;
    if (at < 0) return nullptr;

    auto stopsBack = [](char c) {
        return Rfc822ParseHelp::isAddressTerminator(static_cast<unsigned char>(c)) || c == '<';
    };
    auto stopsForward = [](char c) {
        return Rfc822ParseHelp::isAddressTerminator(static_cast<unsigned char>(c)) || c == '>';
    };
    int32_t start = at;
    while (start > 0 && !stopsBack(s[start - 1])) --start;
    int32_t end = at + 1;
    while (end < n && !stopsForward(s[end])) ++end;

    auto* a = new Rfc822Address();
    a->m_valid = true;
    a->m_fullText << full;
    a->m_address << std::string_view(s + start, static_cast<size_t>(end - start));

    if (start > 0) {
        int32_t i = 0;
        while (i < start && (s[i] == '"' || s[i] == '\'')) ++i;
        // The name ends at its closing quote; escaped quotes belong to the name.
        int32_t p = start - 1;
        for (int32_t j = i; j < start; ++j) {
            if (s[j] == '\\') {
                ++j;
            } else if (s[j] == '"') {
                p = j;
                break;
            }
        }
        while (p >= i && (s[p] == '<' || s[p] == '"' || s[p] == '\'' || s[p] == ' ') && !escapedAt(s, i, p)) --p;
        // Only the escapes this system writes are undone: "DOMAIN\user" keeps its backslash.
        for (int32_t k = i; k <= p; ++k) {
            if (s[k] == '\\' && k < p && isEscapable(s[k + 1])) ++k;
            a->m_name << s[k];
        }
        a->m_name.trim2();
        if (a->m_name.equals(a->m_address.getString())) a->m_name.clear();
        decode8bitWords(a->m_name);
    }
    stripAddress(a->m_address);

    if (hasHighBytes(a->m_name)) {
        StringBuffer encoded;
        ContentCoding().encodeWordAuto(a->m_name.getString(), static_cast<uint32_t>(a->m_name.getSize()), "utf-8",
                                       encoded);
        a->m_name = encoded.getString();
    }
    return a;
}

int Rfc822Address::ParseList(const char* text, ExtPtrArray& list)
{
    if (!text) return 0;
    StringBuffer trimmed(text);
    trimmed.trim();
    // Unfold: line breaks go, the tab that began a continuation line becomes a space.
    StringBuffer unfolded(trimmed.getSize() + 1);
    const char* s = trimmed.getString();
    const int32_t n = trimmed.getSize();
    for (int32_t i = 0; i < n; ++i) {
        if (s[i] == '\r') continue;
        if (s[i] == '\n') {
            if (i + 1 < n && s[i + 1] == '\t') {
                unfolded << ' ';
                ++i;
            }
            continue;
        }
        unfolded << s[i];
    }

    // Addresses already in the list, ASCII letters folded: a duplicate is
    // found in constant time, so long lists cost linear time.
    auto folded = [](const StringBuffer& address) {
        std::string key(address.getString(), static_cast<size_t>(address.getSize()));
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key;
    };
    std::unordered_set<std::string> seen;
    for (int32_t k = 0; k < list.getSize(); ++k)
        if (auto* other = dynamic_cast<Rfc822Address*>(list.get(k))) seen.insert(folded(other->m_address));

    int count = 0;
    const char* u = unfolded.getString();
    const int32_t un = unfolded.getSize();
    auto parseToken = [&](int32_t from, int32_t to) {
        StringBuffer token(u + from, to - from, 0);
        Rfc822Address* a = Parse(token.getString());
        if (!a) return;
        ++count;
        if (!seen.insert(folded(a->m_address)).second || list.append(a) < 0) delete a;
    };

    bool quoted = false;
    int32_t tokenStart = 0;
    for (int32_t i = 0; i < un; ++i) {
        if (u[i] == '\\')
            ++i;  // the escaped character stays in the token, literally
        else if (u[i] == '"')
            quoted = !quoted;
        else if (u[i] == ',' && !quoted) {
            parseToken(tokenStart, i);
            tokenStart = i + 1;
        }
    }
    parseToken(tokenStart, un);
    return count;
}

void Rfc822Address::decodeEncodedWordsEscaped(StringBuffer& text)
{
    const char* s = text.getString();
    const int32_t n = text.getSize();
    if (!std::strstr(s, "=?")) return;
    ContentCoding cc;
    StringBuffer result(n + 1);
    int32_t copied = 0;
    int32_t from = 0;
    // The same word boundaries as ContentCoding::decodeEncodedWords; each word is
    // decoded on its own so that only its decoded text is escaped.
    while (from + 1 < n) {
        const char* open = std::strstr(s + from, "=?");
        if (!open) break;
        const int32_t p = static_cast<int32_t>(open - s);
        from = p + 2;
        const char* q = std::strchr(s + from, '?');
        if (!q) break;
        const int32_t letterAt = static_cast<int32_t>(q - s) + 1;
        if (letterAt + 1 >= n || s[letterAt + 1] != '?') continue;
        const char* close = std::strstr(s + letterAt + 2, "?=");
        if (!close) continue;
        const int32_t wordEnd = static_cast<int32_t>(close - s) + 2;
        StringBuffer word(s + p, wordEnd - p, 0);
        cc.decodeEncodedWords(word);
        result << std::string_view(s + copied, static_cast<size_t>(p - copied));
        const char* w = word.getString();
        for (int32_t k = 0; k < word.getSize(); ++k) {
            if (isEscapable(w[k])) result << '\\';
            result << w[k];
        }
        copied = from = wordEnd;
    }
    result << std::string_view(s + copied, static_cast<size_t>(n - copied));
    text = result.getString();
}

void Rfc822Address::GetFullForm(StringBuffer& out) const
{
    if (m_name.isEmpty()) {
        out << m_address;
        return;
    }
    appendQuotedName(out, m_name);
    out << m_address;
    out << '>';
}

void Rfc822Address::GetDecodedFullForm(StringBuffer& out) const
{
    StringBuffer name;
    GetFriendlyName(name);
    if (name.isEmpty()) {
        out << m_address;
        return;
    }
    appendQuotedName(out, name);
    out << m_address;
    out << '>';
}

void Rfc822Address::GetFriendlyName(StringBuffer& out) const
{
    if (m_name.isEmpty()) return;
    if (m_name.containsIgnoreCase("?Q?") || m_name.containsIgnoreCase("?B?")) {
        StringBuffer decoded(m_name);
        ContentCoding().decodeEncodedWords(decoded);
        out << decoded;
    } else {
        out << m_name;
    }
}

void Rfc822Address::GetAddress(StringBuffer& out) const
{
    out << m_address;
}

void Rfc822Address::SetFriendlyName(const char* text)
{
    m_name = text ? text : "";
}

bool Rfc822Address::ReplaceText(const char* find, const char* replacement)
{
    if (!find || !*find) return false;
    int inAddress = m_address.replaceAll(find, replacement);
    int elsewhere = m_name.replaceAll(find, replacement) + m_fullText.replaceAll(find, replacement);
    // Merge data must not smuggle line breaks or spaces into an envelope address.
    if (inAddress > 0) stripAddress(m_address);
    return inAddress + elsewhere > 0;
}

Rfc822Address* Rfc822Address::Clone() const
{
    auto* c = new Rfc822Address();
    c->m_valid = m_valid;
    c->m_fullText << m_fullText;
    c->m_name << m_name;
    c->m_address << m_address;
    return c;
}

void Rfc822Address::WriteXml(StringBuffer& out) const
{
    out << "<address>\n";
    if (m_address.isEmpty()) {
        out << "\t<addr/>\n";
    } else {
        out << "\t<addr>";
        (void)out.appendXmlEscaped(m_address.getString());
        out << "</addr>\n";
    }
    if (m_name.isEmpty()) {
        out << "\t<name/>\n";
    } else {
        out << "\t<name>";
        if (hasHighBytes(m_name)) {
            StringBuffer word;
            ContentCoding().encodeQWord(m_name.getString(), static_cast<uint32_t>(m_name.getSize()), "8bit", word);
            (void)out.appendXmlEscaped(word.getString());
        } else {
            (void)out.appendXmlEscaped(m_name.getString());
        }
        out << "</name>\n";
    }
    out << "</address>";
}

}  // namespace hanamail
