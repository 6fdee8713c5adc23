#include "html/HtmlHelp.h"

#include <cstring>
#include <string>

#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}
char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalsIgnoreCase(const char* a, int32_t n, const char* b)
{
    int32_t i = 0;
    for (; i < n; ++i) {
        if (b[i] == '\0' || asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return b[i] == '\0';
}

// Position of the lower-case pattern in s[from, n) with case ignored, or -1.
int32_t findIgnoreCase(const char* s, int32_t n, int32_t from, const char* pat)
{
    int32_t m = static_cast<int32_t>(std::strlen(pat));
    for (int32_t i = from < 0 ? 0 : from; i + m <= n; ++i) {
        if (asciiLower(s[i]) != pat[0]) continue;
        int32_t k = 1;
        while (k < m && asciiLower(s[i + k]) == pat[k]) ++k;
        if (k == m) return i;
    }
    return -1;
}

int32_t findChar(const char* s, int32_t n, int32_t from, char c)
{
    if (from >= n) return -1;
    const void* p = std::memchr(s + from, c, static_cast<size_t>(n - from));
    return p ? static_cast<int32_t>(static_cast<const char*>(p) - s) : -1;
}

// Start of a tag "<name" whose name ends there (white space, ">" or "/"
// follows), so "<head" does not find "<header". -1 when there is none.
int32_t findTagStart(const char* s, int32_t n, int32_t from, const char* open)
{
    int32_t m = static_cast<int32_t>(std::strlen(open));
    for (int32_t p = findIgnoreCase(s, n, from, open); p >= 0; p = findIgnoreCase(s, n, p + m, open)) {
        if (p + m < n && (isSpace(s[p + m]) || s[p + m] == '>' || s[p + m] == '/')) return p;
    }
    return -1;
}

// False when sb could not take the bytes (its failure() tells why).
bool assignBytes(StringBuffer& sb, const char* p, int32_t n)
{
    sb.clear();
    sb << std::string_view(p, n > 0 ? static_cast<size_t>(n) : 0);
    return !sb.hasFailed();
}

struct TagAttr {
    const char* name = nullptr;
    int32_t nameLen = 0;
    bool hasValue = false;
    char quote = 0;  // '"' or '\'' for a quoted value
    const char* value = nullptr;
    int32_t valueLen = 0;
};

// Walks the tag name and the attributes of one tag's text.
class TagReader {
public:
    TagReader(const char* p, int32_t n) : m_p(p), m_n(n)
    {
        skipSpace();
        if (m_i < m_n && m_p[m_i] == '<') ++m_i;
        int32_t start = m_i;
        while (m_i < m_n && !isSpace(m_p[m_i]) && m_p[m_i] != '>') ++m_i;
        m_name = m_p + start;
        m_nameLen = m_i - start;
    }

    const char* name() const { return m_name; }
    int32_t nameLen() const { return m_nameLen; }
    bool closed() const { return m_closed; }
    bool openQuote() const { return m_openQuote; }

    bool next(TagAttr& a)
    {
        a = TagAttr();
        skipSpace();
        if (m_i >= m_n) return false;
        if (m_p[m_i] == '>') {
            m_closed = true;
            m_i = m_n;
            return false;
        }
        int32_t start = m_i;
        while (m_i < m_n && !isSpace(m_p[m_i]) && m_p[m_i] != '>' && m_p[m_i] != '=') ++m_i;
        a.name = m_p + start;
        a.nameLen = m_i - start;
        int32_t j = m_i;
        while (j < m_n && isSpace(m_p[j])) ++j;
        if (j >= m_n || m_p[j] != '=') return true;
        a.hasValue = true;
        m_i = j + 1;
        skipSpace();
        readValue(a);
        return true;
    }

private:
    void skipSpace()
    {
        while (m_i < m_n && isSpace(m_p[m_i])) ++m_i;
    }

    void readValue(TagAttr& a)
    {
        // Markup written from script strings escapes its quotes: href=\"x\".
        bool escaped = m_i + 1 < m_n && m_p[m_i] == '\\' && (m_p[m_i + 1] == '"' || m_p[m_i + 1] == '\'');
        if (escaped) ++m_i;
        if (m_i < m_n && (m_p[m_i] == '"' || m_p[m_i] == '\'')) {
            a.quote = m_p[m_i++];
            int32_t start = m_i;
            int32_t end = findChar(m_p, m_n, m_i, a.quote);
            if (end >= 0) {
                m_i = end + 1;
            } else {
                // Unterminated: the value runs to the tag's closing ">".
                m_openQuote = true;
                end = m_n;
                if (end > start && m_p[end - 1] == '>') {
                    --end;
                    m_closed = true;
                }
                m_i = m_n;
            }
            if (escaped && end > start && m_p[end - 1] == '\\') --end;
            a.value = m_p + start;
            a.valueLen = end - start;
            return;
        }
        int32_t start = m_i;
        while (m_i < m_n && !isSpace(m_p[m_i]) && m_p[m_i] != '>') ++m_i;
        a.value = m_p + start;
        a.valueLen = m_i - start;
    }

    const char* m_p;
    int32_t m_n;
    int32_t m_i = 0;
    const char* m_name = nullptr;
    int32_t m_nameLen = 0;
    bool m_closed = false;
    bool m_openQuote = false;
};

void appendValue(StringBuffer& out, const TagAttr& a)
{
    char quote = a.quote;
    bool entities = false;
    if (quote == 0) {
        // An unquoted value may hold quote characters; choose quotes that keep the tag whole.
        bool dq = std::memchr(a.value, '"', static_cast<size_t>(a.valueLen)) != nullptr;
        bool sq = std::memchr(a.value, '\'', static_cast<size_t>(a.valueLen)) != nullptr;
        quote = (dq && !sq) ? '\'' : '"';
        entities = dq && sq;
    }
    out << quote;
    int32_t run = 0;
    for (int32_t i = 0; i < a.valueLen; ++i) {
        if (entities && a.value[i] == '"') {
            out << std::string_view(a.value + run, static_cast<size_t>(i - run)) << "&quot;";
            run = i + 1;
        }
    }
    out << std::string_view(a.value + run, static_cast<size_t>(a.valueLen - run)) << quote;
}

// The tag with CR and NUL removed and LF as a space, into scratch when it
// needs that (false: the tag is fine as it is).
bool normaliseBreaks(const char* tag, int32_t n, std::string& scratch)
{
    bool needed = false;
    for (int32_t i = 0; i < n && !needed; ++i) needed = tag[i] == '\r' || tag[i] == '\n' || tag[i] == '\0';
    if (!needed) return false;
    scratch.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        if (tag[i] == '\n')
            scratch.push_back(' ');
        else if (tag[i] != '\r' && tag[i] != '\0')
            scratch.push_back(tag[i]);
    }
    return true;
}

std::string attributeValue(const char* tag, int32_t n, const char* name)
{
    int32_t start = 0;
    int32_t len = 0;
    if (!HtmlHelp::findAttribute(tag, n, name, start, len)) return std::string();
    std::string v(tag + start, static_cast<size_t>(len));
    size_t b = 0;
    while (b < v.size() && isSpace(v[b])) ++b;
    size_t e = v.size();
    while (e > b && isSpace(v[e - 1])) --e;
    v = v.substr(b, e - b);
    for (char& c : v) {
        if (c == '\\') c = '/';
    }
    return v;
}

// The next "<meta" tag at or after from, up to its first ">". A "<meta"
// without a ">" after it gives end -1: it is cut off by the end of the text.
bool nextMetaTag(const char* s, int32_t n, int32_t from, int32_t& start, int32_t& end)
{
    start = findTagStart(s, n, from, "<meta");
    if (start < 0) return false;
    end = findChar(s, n, start + 5, '>');
    if (end >= 0) ++end;
    return true;
}

// Whether the k bytes are the first k of "<meta", case ignored.
bool isMetaPiece(const char* p, int32_t k)
{
    for (int32_t i = 0; i < k; ++i) {
        if (asciiLower(p[i]) != "<meta"[i]) return false;
    }
    return true;
}

// The charset after "charset=" in a content value, or empty.
std::string charsetInContent(const std::string& content)
{
    int32_t n = static_cast<int32_t>(content.size());
    int32_t p = findIgnoreCase(content.data(), n, 0, "charset=");
    if (p < 0) return std::string();
    int32_t i = p + 8;
    while (i < n && (content[i] == ' ' || content[i] == '\t')) ++i;
    int32_t e = i;
    if (i < n && (content[i] == '"' || content[i] == '\'')) {
        char q = content[i++];
        e = findChar(content.data(), n, i, q);
        if (e < 0) e = n;
    } else {
        while (e < n && content[e] != '"' && content[e] != ';' && content[e] != ' ' && content[e] != '\t') ++e;
    }
    return content.substr(static_cast<size_t>(i), static_cast<size_t>(e - i));
}

struct MetaInfo {
    bool contentTypeEquiv = false;
    std::string content;
    std::string charsetAttr;
    BufferFailure failure = BufferFailure::None;  // the tag could not be read
};

MetaInfo readMeta(const char* tag, int32_t n)
{
    StringBuffer clean;
    HtmlHelp::cleanHtmlTag(tag, n, clean, nullptr);
    MetaInfo m;
    m.failure = clean.failure();
    if (m.failure != BufferFailure::None) return m;
    const char* c = clean.getString();
    int32_t cn = clean.getSize();
    std::string equiv = attributeValue(c, cn, "http-equiv");
    m.contentTypeEquiv = equalsIgnoreCase(equiv.data(), static_cast<int32_t>(equiv.size()), "content-type");
    m.content = attributeValue(c, cn, "content");
    m.charsetAttr = attributeValue(c, cn, "charset");
    return m;
}

std::string declaredCharset(const MetaInfo& m)
{
    if (m.contentTypeEquiv &&
        findIgnoreCase(m.content.data(), static_cast<int32_t>(m.content.size()), 0, "charset=") >= 0)
        return charsetInContent(m.content);
    return m.charsetAttr;
}

bool isDeclaration(const MetaInfo& m)
{
    if (m.contentTypeEquiv && !m.content.empty() &&
        findIgnoreCase(m.content.data(), static_cast<int32_t>(m.content.size()), 0, "charset=") >= 0)
        return true;
    return !m.charsetAttr.empty();
}

// ---- Document skeleton, on a std::string so that NUL bytes survive.

int32_t sizeOf(const std::string& s)
{
    return static_cast<int32_t>(s.size());
}

bool containsIgnoreCase(const std::string& s, const char* pat)
{
    return findIgnoreCase(s.data(), sizeOf(s), 0, pat) >= 0;
}

bool replaceFirst(std::string& s, const char* find, const char* repl)
{
    size_t p = s.find(find);
    if (p == std::string::npos) return false;
    s.replace(p, std::strlen(find), repl);
    return true;
}

// Inserts text after the ">" of the first tag opened by open; false when there is none.
bool insertAfterTag(std::string& s, const char* open, const std::string& text)
{
    int32_t p = findTagStart(s.data(), sizeOf(s), 0, open);
    if (p < 0) return false;
    int32_t gt = findChar(s.data(), sizeOf(s), p, '>');
    if (gt < 0) return false;
    s.insert(static_cast<size_t>(gt) + 1, text);
    return true;
}

bool insertBefore(std::string& s, const char* patIgnoreCase, const char* text)
{
    int32_t p = findIgnoreCase(s.data(), sizeOf(s), 0, patIgnoreCase);
    if (p < 0) return false;
    s.insert(static_cast<size_t>(p), text);
    return true;
}

// The exact replacements handle the plain "<html>", "<body" and "</head>";
// tags with attributes or in mixed case get the same insertions at the tag.
void ensureStructure(std::string& s)
{
    if (!containsIgnoreCase(s, "<html")) s.insert(0, "<html>");
    if (!containsIgnoreCase(s, "</html>")) s.append("</html>");
    if (findTagStart(s.data(), sizeOf(s), 0, "<head") < 0) {
        replaceFirst(s, "<HTML>", "<html>");
        bool headAdded = replaceFirst(s, "<html>", "<html><head>") || insertAfterTag(s, "<html", "<head>");
        if (containsIgnoreCase(s, "<body")) {
            replaceFirst(s, "<BODY", "<body");
            if (headAdded && !replaceFirst(s, "<body", "</head><body")) insertBefore(s, "<body", "</head>");
        } else {
            replaceFirst(s, "</HTML>", "</html>");
            replaceFirst(s, "<head>", "<head></head>");
        }
    }
    if (!containsIgnoreCase(s, "<body")) {
        replaceFirst(s, "</HEAD>", "</head>");
        if (!replaceFirst(s, "</head>", "</head><body>")) insertAfterTag(s, "</head", "<body>");
    }
    if (!containsIgnoreCase(s, "</body>")) {
        replaceFirst(s, "</HTML>", "</html>");
        if (!replaceFirst(s, "</html>", "</body></html>")) insertBefore(s, "</html>", "</body>");
    }
}

// html becomes s; when it cannot hold s, it keeps its text and records
// the failure.
bool storeIfFits(StringBuffer& html, const std::string& s)
{
    if (s.size() >= static_cast<size_t>(StringBuffer::kMaxLength)) {
        html.markFailed(BufferFailure::TooLarge);
        return false;
    }
    // Room first, so the text is not lost when there is none.
    const int32_t n = sizeOf(s);
    if (n > html.getSize() && !html.reserveAppend(n - html.getSize())) return false;
    return assignBytes(html, s.data(), n);
}

// Bytes of charset names (RFC 2978 plus "." and ":"); anything else could
// break out of the attribute it is written into.
bool isCharsetNameByte(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != '\0' && std::strchr("-_.:+!#$%&'^`{}~", c) != nullptr;
}

}  // namespace

void HtmlHelp::cleanHtmlTag(const char* tag, int32_t n, StringBuffer& out, LogBase* log)
{
    if (!tag || n < 0) {
        tag = "";
        n = 0;
    }
    if (log) {
        StringBuffer original(tag, n, 0);
        log->logData("cleaning_tag", original.getString());
    }
    std::string scratch;
    const char* p = tag;
    if (normaliseBreaks(tag, n, scratch)) {
        p = scratch.data();
        n = static_cast<int32_t>(scratch.size());
    }

    // Built aside: the tag may lie inside out.
    StringBuffer result((n < 4096 ? n : 4096) + 16);
    TagReader reader(p, n);
    result << '<' << std::string_view(reader.name(), static_cast<size_t>(reader.nameLen()));
    int count = 0;
    bool dropped = false;
    TagAttr a;
    while (reader.next(a)) {
        if (a.nameLen == 0) continue;  // a stray "=" names nothing
        if (count == kMaxTagAttributes) {
            dropped = true;
            break;
        }
        ++count;
        result << ' ' << std::string_view(a.name, static_cast<size_t>(a.nameLen));
        if (a.hasValue) {
            result << '=';
            appendValue(result, a);
        }
    }
    result << '>';
    if (log) {
        StringBuffer name(reader.name(), reader.nameLen(), 0);
        log->logData("clean_tag_1", name.getString());
        log->logDataLong("clean_tag_2", count);
        log->logData("clean_tag_3", dropped ? "attributes dropped" : "all attributes kept");
        log->logData("clean_tag_4", reader.closed() ? "closed" : "not closed");
        log->logData("clean_tag_5", reader.openQuote() ? "unterminated quote" : "quotes balanced");
        log->logData("clean_tag_6", result.getString());
    }
    // A tag cut short is never handed out: out is then empty and tells why.
    if (result.hasFailed()) {
        out.clear();
        out.markFailed(result.failure());
        return;
    }
    (void)assignBytes(out, result.getString(), result.getSize());  // a failure stays recorded in out
}

void HtmlHelp::cleanHtmlTag(const StringBuffer& tag, StringBuffer& out, LogBase* log)
{
    cleanHtmlTag(tag.getString(), tag.getSize(), out, log);
}

bool HtmlHelp::findAttribute(const char* cleanTag, int32_t n, const char* name, int32_t& start, int32_t& len)
{
    start = 0;
    len = 0;
    if (!cleanTag || !name || !*name || n <= 0) return false;
    for (char quote : {'"', '\''}) {
        TagReader reader(cleanTag, n);
        TagAttr a;
        while (reader.next(a)) {
            if (a.hasValue && a.quote == quote && equalsIgnoreCase(a.name, a.nameLen, name)) {
                start = static_cast<int32_t>(a.value - cleanTag);
                len = a.valueLen;
                return true;
            }
        }
    }
    return false;
}

bool HtmlHelp::getAttributeValue(const StringBuffer& cleanTag, const char* name, StringBuffer& value)
{
    std::string v = attributeValue(cleanTag.getString(), cleanTag.getSize(), name);
    return assignBytes(value, v.data(), sizeOf(v)) && !v.empty();
}

bool HtmlHelp::getBaseHref(const StringBuffer& html, StringBuffer& href)
{
    href.clear();
    const char* s = html.getString();
    int32_t n = html.getSize();
    int32_t p = findTagStart(s, n, 0, "<base");
    // "<base/>" names no href; white space must follow the name.
    while (p >= 0 && s[p + 5] == '/') p = findTagStart(s, n, p + 5, "<base");
    if (p < 0) return false;
    int32_t gt = findChar(s, n, p, '>');
    if (gt < 0) return false;
    StringBuffer clean;
    cleanHtmlTag(s + p, gt + 1 - p, clean, nullptr);
    if (clean.hasFailed()) {
        href.markFailed(clean.failure());
        return false;
    }
    return getAttributeValue(clean, "href", href);
}

bool HtmlHelp::getMetaCharset(const StringBuffer& html, StringBuffer& charset)
{
    charset.clear();
    const char* s = html.getString();
    int32_t n = html.getSize();
    int32_t start = 0;
    int32_t end = 0;
    for (int32_t from = 0; nextMetaTag(s, n, from, start, end) && end > 0; from = end) {
        const MetaInfo meta = readMeta(s + start, end - start);
        if (meta.failure != BufferFailure::None) {
            charset.markFailed(meta.failure);
            return false;
        }
        std::string cs = declaredCharset(meta);
        if (!cs.empty()) return assignBytes(charset, cs.data(), sizeOf(cs));
    }
    return false;
}

int HtmlHelp::removeMetaCharset(StringBuffer& html)
{
    std::string s(html.getString(), static_cast<size_t>(html.getSize()));
    char* d = s.data();
    int32_t n = sizeOf(s);
    int32_t w = 0;  // the kept text is d[0, w)
    int32_t r = 0;  // the text still to scan is d[r, n)
    int removed = 0;
    int32_t start = 0;
    int32_t end = 0;
    while (r < n && nextMetaTag(d, n, r, start, end)) {
        std::memmove(d + w, d + r, static_cast<size_t>(start - r));
        w += start - r;
        if (end < 0) {
            // A tag cut off by the end of the text shows nothing, but text
            // appended later (ensureHtmlStructure) could close it into a
            // declaration.
            ++removed;
            r = n;
            break;
        }
        r = end;
        const MetaInfo meta = readMeta(d + start, end - start);
        if (meta.failure != BufferFailure::None) {
            // Whether the tag declares a charset is not known: html stays as it is.
            html.markFailed(meta.failure);
            return 0;
        }
        if (!isDeclaration(meta)) {
            std::memmove(d + w, d + start, static_cast<size_t>(end - start));
            w += end - start;
            continue;
        }
        ++removed;
        // Kept text ending in a piece of "<meta" could join what follows into
        // a new declaration: scan that piece again. The tag just dropped is
        // longer than the piece, so moving it back overwrites nothing unread.
        for (int32_t k = w < 5 ? w : 5; k > 0; --k) {
            if (isMetaPiece(d + w - k, k)) {
                std::memmove(d + r - k, d + w - k, static_cast<size_t>(k));
                w -= k;
                r -= k;
                break;
            }
        }
    }
    if (removed == 0) return 0;
    std::memmove(d + w, d + r, static_cast<size_t>(n - r));
    w += n - r;
    (void)assignBytes(html, d, w);  // shorter than before, so it fits; a failure stays recorded in html
    return removed;
}

void HtmlHelp::ensureHtmlStructure(StringBuffer& html)
{
    std::string s(html.getString(), static_cast<size_t>(html.getSize()));
    ensureStructure(s);
    (void)storeIfFits(html, s);  // a failure is recorded in html, which keeps its text
}

bool HtmlHelp::addMetaCharset(StringBuffer& html, const char* charset)
{
    if (!charset || !*charset) return false;
    for (const char* c = charset; *c; ++c) {
        if (!isCharsetNameByte(*c)) return false;
    }
    std::string s(html.getString(), static_cast<size_t>(html.getSize()));
    ensureStructure(s);
    std::string meta = "<META http-equiv=\"Content-Type\" content=\"text/html;charset=";
    meta += charset;
    meta += "\">";
    replaceFirst(s, "<HEAD>", "<head>");
    size_t head = s.find("<head>");
    if (head != std::string::npos)
        s.insert(head + 6, meta);
    else if (!insertAfterTag(s, "<head", meta))
        s.insert(0, meta);  // no head element to put it in; first in the text still rules
    return storeIfFits(html, s);
}

}  // namespace hanamail
