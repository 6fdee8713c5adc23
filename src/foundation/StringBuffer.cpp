#include "foundation/StringBuffer.h"

#include "platform/Automation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/BufferLimit.h"
#include "foundation/CheckByte.h"
#include "foundation/ExtPtrArray.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

constexpr uint8_t kAlive = 0xAA;
constexpr int32_t kDefaultGrowth = 200;
constexpr uint32_t kDestroyed = 0xDDDDDDDDu;

int32_t clampedLength(const char* text)
{
    if (!text) return 0;
    size_t n = std::strlen(text);
    return n > static_cast<size_t>(StringBuffer::kMaxLength) ? -1 : static_cast<int32_t>(n);
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

const char* findBytes(const char* hay, int32_t hayLen, const char* needle, int32_t needleLen)
{
    if (needleLen <= 0 || needleLen > hayLen) return nullptr;
    const char* end = hay + (hayLen - needleLen) + 1;
    for (const char* p = hay; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, needle[0], static_cast<size_t>(end - p)));
        if (!p) return nullptr;
        if (std::memcmp(p, needle, static_cast<size_t>(needleLen)) == 0) return p;
    }
    return nullptr;
}

}  // namespace

StringBuffer::StringBuffer() : StringBuffer(0) {}

StringBuffer::StringBuffer(int32_t capacity)
    : m_check(kAlive), m_data(nullptr), m_capacity(0), m_length(0), m_growth(kDefaultGrowth)
{
    initFrom(nullptr, 0, capacity > 0 ? capacity : kDefaultGrowth);
}

StringBuffer::StringBuffer(const char* text)
    : m_check(kAlive), m_data(nullptr), m_capacity(0), m_length(0), m_growth(kDefaultGrowth)
{
    int32_t n = clampedLength(text);
    if (n < 0) n = 0;
    initFrom(text, n, n + 1);
}

StringBuffer::StringBuffer(const char* bytes, int32_t n, int32_t growth)
    : m_check(kAlive), m_data(nullptr), m_capacity(0), m_length(0), m_growth(growth != 0 ? growth : kDefaultGrowth)
{
    if (!bytes || n < 0) n = 0;
    if (n >= kMaxLength || static_cast<uint32_t>(n) >= BufferLimit::maxBytes()) {
        m_failure = BufferFailure::TooLarge;
        n = 0;
    }
    initFrom(bytes, n, n + 1);
}

StringBuffer::StringBuffer(const StringBuffer& other)
    : TembrixObject(other), m_check(kAlive), m_data(nullptr), m_capacity(0), m_length(0), m_growth(kDefaultGrowth)
{
    bool ok = other.alive();
    initFrom(ok ? other.m_data : nullptr, ok ? other.m_length : 0, (ok ? other.m_length : 0) + 1);
}

StringBuffer& StringBuffer::operator=(const StringBuffer& other)
{
    if (this != &other && alive() && other.alive()) {
        clear();
        (void)appendN(other.m_data, other.m_length);  // the bytes may hold NULs; a failure stays recorded
        if (other.m_failure != BufferFailure::None) fail(other.m_failure);
    }
    return *this;
}

StringBuffer::~StringBuffer()
{
    if (m_check == kAlive) std::free(m_data);
    m_check = 0;
    m_data = reinterpret_cast<char*>(static_cast<uintptr_t>(kDestroyed));
    m_capacity = static_cast<int32_t>(kDestroyed);
    m_length = static_cast<int32_t>(kDestroyed);
    m_growth = static_cast<int32_t>(kDestroyed);
}

void StringBuffer::initFrom(const char* bytes, int32_t n, int32_t capacity)
{
    m_data = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    if (!m_data) std::abort();  // the data pointer is never null while the object lives
    m_capacity = capacity;
    if (n > 0) std::memcpy(m_data, bytes, static_cast<size_t>(n));
    m_length = n;
    m_data[n] = '\0';
}

bool StringBuffer::alive() const
{
    return HM_ALIVE(m_check, kAlive, "StringBuffer");
}

const char* StringBuffer::getString() const
{
    return alive() ? m_data : "";
}
int32_t StringBuffer::getSize() const
{
    return alive() ? m_length : 0;
}
int32_t StringBuffer::getCapacity() const
{
    return alive() ? m_capacity : 0;
}

// Makes room for extra more bytes plus the NUL. Growth adds one half of the
// capacity each time, so appending in pieces costs time linear in the total.
bool StringBuffer::reserveFor(int64_t extra, int32_t extraSlack)
{
    int64_t needed = static_cast<int64_t>(m_length) + extra;
    int64_t limit = BufferLimit::maxBytes() < static_cast<uint32_t>(kMaxLength) ? BufferLimit::maxBytes() : kMaxLength;
    if (extra < 0 || needed >= limit) return fail(BufferFailure::TooLarge);
    if (needed < m_capacity) return true;
    int64_t newCap = needed + m_growth + extraSlack;
    if (newCap > limit) newCap = needed + 1;
    char* p = static_cast<char*>(std::realloc(m_data, static_cast<size_t>(newCap)));
    if (!p) return fail(BufferFailure::OutOfMemory);
    m_data = p;
    m_capacity = static_cast<int32_t>(newCap);
    if (m_growth < m_capacity / 2) m_growth = m_capacity / 2;
    return true;
}

bool StringBuffer::fail(BufferFailure why)
{
    if (m_failure == BufferFailure::None) m_failure = why;
    return false;
}

void StringBuffer::markFailed(BufferFailure why)
{
    if (alive() && why != BufferFailure::None) fail(why);
}

StringBuffer& StringBuffer::operator=(const char* text)
{
    (void)setString(text);
    return *this;
}

StringBuffer& StringBuffer::operator<<(const char* text)
{
    (void)append(text);
    return *this;
}

StringBuffer& StringBuffer::operator<<(const StringBuffer& other)
{
    (void)append(other);
    return *this;
}

StringBuffer& StringBuffer::operator<<(std::string_view bytes)
{
    if (bytes.size() > static_cast<size_t>(kMaxLength))
        markFailed(BufferFailure::TooLarge);
    else
        (void)appendN(bytes.data(), static_cast<int32_t>(bytes.size()));
    return *this;
}

StringBuffer& StringBuffer::operator<<(char c)
{
    (void)appendChar(c);
    return *this;
}

StringBuffer& StringBuffer::operator<<(int n)
{
    (void)appendInt(n);
    return *this;
}

BufferFailure StringBuffer::failure() const
{
    return alive() ? m_failure : BufferFailure::None;
}

void StringBuffer::clear()
{
    if (!alive()) return;
    m_failure = BufferFailure::None;
    m_length = 0;
    m_data[0] = '\0';
}

void StringBuffer::secureClear()
{
    if (!alive()) return;
    volatile char* p = m_data;
    for (int32_t i = 0; i < m_capacity; ++i) p[i] = 0;
    clear();
}

bool StringBuffer::appendN(const char* bytes, int32_t n)
{
    if (!alive()) return false;
    if (!bytes || n <= 0) return true;
    // bytes may point into our own array; remember where before reallocating.
    bool inside = bytes >= m_data && bytes < m_data + m_capacity;
    ptrdiff_t offset = bytes - m_data;
    if (!reserveFor(n, 0)) return false;
    if (inside) bytes = m_data + offset;
    std::memmove(m_data + m_length, bytes, static_cast<size_t>(n));
    m_length += n;
    m_data[m_length] = '\0';
    return true;
}

bool StringBuffer::append(const char* text)
{
    int32_t n = clampedLength(text);
    return n < 0 ? (alive() && fail(BufferFailure::TooLarge)) : appendN(text, n);
}

bool StringBuffer::append(const StringBuffer& other)
{
    if (!other.alive()) return false;
    // A piece that could not be built in full makes what holds it incomplete too.
    if (other.m_failure != BufferFailure::None) fail(other.m_failure);
    bool ok = other.m_failure == BufferFailure::None;
    if (&other == this) {
        StringBuffer copy(other);
        return appendN(copy.m_data, copy.m_length) && ok;
    }
    return appendN(other.m_data, other.m_length) && ok;
}

bool StringBuffer::appendChar(char c)
{
    if (!alive() || !reserveFor(1, 0)) return false;
    m_data[m_length++] = c;
    m_data[m_length] = '\0';
    return true;
}

bool StringBuffer::appendInt(int n)
{
    char tmp[16];
    std::snprintf(tmp, sizeof tmp, "%d", n);
    return append(tmp);
}

bool StringBuffer::insertBytes(int32_t at, const char* bytes, int32_t n)
{
    if (!alive()) return false;
    if (!bytes || n <= 0) return true;
    StringBuffer copy(bytes, n, 0);  // bytes may alias our own array
    if (!reserveFor(n, 0)) return false;
    if (at < 0) at = 0;
    if (at > m_length) at = m_length;
    std::memmove(m_data + at + n, m_data + at, static_cast<size_t>(m_length - at) + 1);
    std::memcpy(m_data + at, copy.m_data, static_cast<size_t>(n));
    m_length += n;
    return true;
}

bool StringBuffer::prepend(const char* text)
{
    int32_t n = clampedLength(text);
    return n < 0 ? (alive() && fail(BufferFailure::TooLarge)) : insertBytes(0, text, n);
}

bool StringBuffer::setString(const char* text)
{
    if (!alive()) return false;
    if (text >= m_data && text < m_data + m_capacity) {
        StringBuffer copy(text);
        clear();
        return append(copy.m_data);
    }
    clear();
    return append(text);
}

bool StringBuffer::appendHex(const unsigned char* bytes, int32_t n)
{
    if (!alive()) return false;
    if (!bytes || n <= 0) return true;
    static const char kDigits[] = "0123456789ABCDEF";
    // Two digits per byte plus at most a space and a line feed.
    if (!reserveFor(static_cast<int64_t>(n) * 4, 0)) return false;
    for (int32_t i = 0; i < n; ++i) {
        m_data[m_length++] = kDigits[bytes[i] >> 4];
        m_data[m_length++] = kDigits[bytes[i] & 0x0F];
        if ((i + 1) % 2 == 0) m_data[m_length++] = ' ';
        if ((i + 1) % 16 == 0) m_data[m_length++] = '\n';
    }
    m_data[m_length] = '\0';
    return true;
}

bool StringBuffer::appendXmlEscaped(const char* text)
{
    if (!alive()) return false;
    if (!text) return true;
    const char* run = text;
    for (const char* p = text;; ++p) {
        const char* entity = nullptr;
        switch (*p) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            case '\0': return appendN(run, static_cast<int32_t>(p - run));
            default: continue;
        }
        if (!appendN(run, static_cast<int32_t>(p - run)) || !append(entity)) return false;
        run = p + 1;
    }
}

bool StringBuffer::appendLastError()
{
    if (!alive()) return false;
    std::string text = platform::systemErrorText(platform::lastErrorCode());
    bool ok = appendN(text.data(), static_cast<int32_t>(text.size()));
    trim2();
    return ok;
}

namespace {
bool isSpaceTab(char c)
{
    return c == ' ' || c == '\t';
}
bool isSpaceTabCrLf(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
}  // namespace

static void trimWith(char* data, int32_t& length, bool (*strip)(char))
{
    int32_t start = 0;
    while (start < length && strip(data[start])) ++start;
    int32_t end = length;
    while (end > start && strip(data[end - 1])) --end;
    if (start > 0) std::memmove(data, data + start, static_cast<size_t>(end - start));
    length = end - start;
    data[length] = '\0';
}

void StringBuffer::trim()
{
    if (alive()) trimWith(m_data, m_length, isSpaceTab);
}

void StringBuffer::trim2()
{
    if (alive()) trimWith(m_data, m_length, isSpaceTabCrLf);
}

void StringBuffer::collapseWhitespace()
{
    if (!alive()) return;
    int32_t w = 0;
    for (int32_t r = 0; r < m_length; ++r) {
        char c = m_data[r];
        if (c == '\r' || c == '\t' || c == '\n') c = ' ';
        if (c == ' ' && w > 0 && m_data[w - 1] == ' ') continue;
        m_data[w++] = c;
    }
    m_length = w;
    m_data[w] = '\0';
}

void StringBuffer::removeCharFrom(char c, int32_t start)
{
    if (!alive()) return;
    if (start < 0) start = 0;
    int32_t w = start;
    for (int32_t r = start; r < m_length; ++r) {
        if (m_data[r] != c) m_data[w++] = m_data[r];
    }
    if (w < m_length) {
        m_length = w;
        m_data[w] = '\0';
    }
}

void StringBuffer::removeChar(char c)
{
    removeCharFrom(c, 0);
}

void StringBuffer::replaceChar(char from, char to)
{
    if (!alive()) return;
    for (int32_t i = 0; i < m_length; ++i) {
        if (m_data[i] == from) m_data[i] = to;
    }
}

void StringBuffer::replaceCharsOf(const char* set, char to)
{
    if (!alive() || !set) return;
    // At most five bytes of the set, up to its NUL.
    size_t n = 0;
    while (n < 5 && set[n] != '\0') ++n;
    for (int32_t i = 0; i < m_length; ++i) {
        if (std::memchr(set, m_data[i], n)) m_data[i] = to;
    }
}

void StringBuffer::dropBefore(char c, bool dropChar)
{
    if (!alive()) return;
    const char* p = static_cast<const char*>(std::memchr(m_data, c, static_cast<size_t>(m_length)));
    if (!p) return;
    int32_t from = static_cast<int32_t>(p - m_data) + (dropChar ? 1 : 0);
    std::memmove(m_data, m_data + from, static_cast<size_t>(m_length - from) + 1);
    m_length -= from;
}

void StringBuffer::chopAtLast(char c, bool dropChar)
{
    if (!alive()) return;
    for (int32_t i = m_length - 1; i >= 0; --i) {
        if (m_data[i] == c) {
            m_length = dropChar ? i : i + 1;
            m_data[m_length] = '\0';
            return;
        }
    }
}

void StringBuffer::shorten(int32_t n)
{
    if (!alive() || n <= 0) return;
    m_length = n >= m_length ? 0 : m_length - n;
    m_data[m_length] = '\0';
}

char StringBuffer::lastChar() const
{
    return (alive() && m_length > 0) ? m_data[m_length - 1] : '\0';
}

char StringBuffer::charAt(int32_t i) const
{
    return (alive() && i >= 0 && i < m_length) ? m_data[i] : '\0';
}

bool StringBuffer::replaceFirst(const char* find, const char* repl)
{
    if (!alive() || !find || !*find) return false;
    int32_t findLen = clampedLength(find);
    const char* p = findBytes(m_data, m_length, find, findLen);
    if (!p) return false;
    int32_t at = static_cast<int32_t>(p - m_data);
    StringBuffer result(m_data, at, m_capacity);
    if (!result.append(repl) || !result.appendN(p + findLen, m_length - at - findLen)) return false;
    std::swap(m_data, result.m_data);
    std::swap(m_capacity, result.m_capacity);
    std::swap(m_length, result.m_length);
    return true;
}

int StringBuffer::replaceAll(const char* find, const char* repl)
{
    if (!alive() || !find || !*find) return 0;
    int32_t findLen = clampedLength(find);
    int32_t replLen = repl ? clampedLength(repl) : 0;
    if (findLen <= 0 || replLen < 0) return 0;
    const char* p = findBytes(m_data, m_length, find, findLen);
    if (!p) return 0;
    StringBuffer result(m_capacity);
    int count = 0;
    const char* cur = m_data;
    const char* end = m_data + m_length;
    while (p) {
        if (!result.appendN(cur, static_cast<int32_t>(p - cur)) || !result.appendN(repl, replLen)) return 0;
        ++count;
        cur = p + findLen;
        p = findBytes(cur, static_cast<int32_t>(end - cur), find, findLen);
    }
    if (!result.appendN(cur, static_cast<int32_t>(end - cur))) return 0;
    std::swap(m_data, result.m_data);
    std::swap(m_capacity, result.m_capacity);
    std::swap(m_length, result.m_length);
    return count;
}

void StringBuffer::split(char delim, ExtPtrArray& out, int max) const
{
    if (!alive()) return;
    int pieces = 0;
    int32_t start = 0;
    for (int32_t i = 0; i <= m_length; ++i) {
        if (i == m_length || m_data[i] == delim) {
            if (i > start) {
                if (max > 0 && pieces >= max) return;
                out.append(new StringBuffer(m_data + start, i - start, 0));
                ++pieces;
            }
            start = i + 1;
        }
    }
}

bool StringBuffer::contains(const char* text) const
{
    if (!alive() || !text) return false;
    if (!*text) return true;
    return findBytes(m_data, m_length, text, clampedLength(text)) != nullptr;
}

bool StringBuffer::containsIgnoreCase(const char* text) const
{
    if (!alive() || !text) return false;
    int32_t n = clampedLength(text);
    if (n == 0) return true;
    for (int32_t i = 0; i + n <= m_length; ++i) {
        int32_t k = 0;
        while (k < n && asciiLower(m_data[i + k]) == asciiLower(text[k])) ++k;
        if (k == n) return true;
    }
    return false;
}

bool StringBuffer::equals(const char* text) const
{
    if (!alive()) return false;
    if (!text) return m_length == 0;
    return std::strcmp(m_data, text) == 0;
}

bool StringBuffer::equalsIgnoreCase(const char* text) const
{
    if (!alive()) return false;
    if (!text) return m_length == 0;
    const char* a = m_data;
    while (*a && *text && asciiLower(*a) == asciiLower(*text)) {
        ++a;
        ++text;
    }
    return *a == '\0' && *text == '\0';
}

int StringBuffer::compare(const char* text) const
{
    if (!alive()) return 0;
    return std::strcmp(m_data, text ? text : "");
}

bool StringBuffer::beginsWith(const char* text) const
{
    if (!alive() || !text) return false;
    size_t n = std::strlen(text);
    return n <= static_cast<size_t>(m_length) && std::memcmp(m_data, text, n) == 0;
}

void StringBuffer::toLowerCase()
{
    if (!alive()) return;
    for (int32_t i = 0; i < m_length; ++i) m_data[i] = asciiLower(m_data[i]);
}

void StringBuffer::toUpperCase()
{
    if (!alive()) return;
    for (int32_t i = 0; i < m_length; ++i) m_data[i] = asciiUpper(m_data[i]);
}

bool StringBuffer::isAllAscii() const
{
    if (!alive()) return false;
    for (int32_t i = 0; i < m_length; ++i) {
        if (static_cast<unsigned char>(m_data[i]) >= 0x80) return false;
    }
    return true;
}

void StringBuffer::xmlEscape()
{
    xmlEscapeNoQuotes();
    replaceAll("\"", "&quot;");
}

void StringBuffer::xmlEscapeNoQuotes()
{
    replaceAll("&", "&amp;");
    replaceAll("<", "&lt;");
    replaceAll(">", "&gt;");
}

void StringBuffer::toCrlf()
{
    removeChar('\r');
    replaceAll("\n", "\r\n");
}

void StringBuffer::toLf()
{
    replaceAll("\r\n", "\n");
}

void StringBuffer::stripDirectory()
{
    replaceChar('/', '\\');
    if (!alive()) return;
    for (int32_t i = m_length - 1; i >= 0; --i) {
        if (m_data[i] == '\\') {
            std::memmove(m_data, m_data + i + 1, static_cast<size_t>(m_length - i));
            m_length -= i + 1;
            return;
        }
    }
}

void StringBuffer::shrink()
{
    if (!alive() || m_capacity <= m_length + 4) return;
    char* p = static_cast<char*>(std::realloc(m_data, static_cast<size_t>(m_length) + 1));
    if (!p) return;
    m_data = p;
    m_capacity = m_length + 1;
}

char* StringBuffer::takeData()
{
    if (!alive()) return nullptr;
    char* fresh = static_cast<char*>(std::malloc(static_cast<size_t>(m_growth > 0 ? m_growth : kDefaultGrowth)));
    if (!fresh) return nullptr;
    char* taken = m_data;
    m_data = fresh;
    m_data[0] = '\0';
    m_capacity = m_growth > 0 ? m_growth : kDefaultGrowth;
    m_length = 0;
    return taken;
}

}  // namespace hanamail
