#include "foundation/ActivityLog.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/LogEntry.h"

namespace hanamail {

namespace {

constexpr const char* kXmlKey = "__xml__";
constexpr const char* kCdataOpen = "<![CDATA[";
constexpr const char* kCdataClose = "]]>";
constexpr int32_t kXmlIndent = 4;

bool hasBothCdataMarkers(const char* s)
{
    return std::strstr(s, kCdataOpen) && std::strstr(s, kCdataClose);
}

bool needsCdata(const char* s)
{
    if (!std::strpbrk(s, "\n\t&<>")) return false;
    return !hasBothCdataMarkers(s);
}

// True when a text made of CDATA sections and plain characters is already
// well-formed element content, so that it may be written as it stands.
bool isSelfWrapped(const char* s)
{
    while (*s) {
        if (std::strncmp(s, kCdataOpen, 9) == 0) {
            const char* end = std::strstr(s + 9, kCdataClose);
            if (!end) return false;
            s = end + 3;
            continue;
        }
        if (*s == '<' || *s == '>' || *s == '&') return false;
        ++s;
    }
    return true;
}

// A "]]>" inside the text would end the section early: it is split over two sections.
void appendCdata(StringBuffer& out, const char* s)
{
    out << kCdataOpen;
    for (;;) {
        const char* end = std::strstr(s, kCdataClose);
        if (!end) break;
        out << std::string_view(s, static_cast<size_t>(end - s) + 2) << "]]><![CDATA[";
        s = end + 2;
    }
    out << s << kCdataClose;
}

// XML allows no control characters but tab, CR and LF, not even in CDATA;
// server replies end up in the log, so nothing here is trusted.
void replaceControlBytes(StringBuffer& text)
{
    for (char c = 1; c < 0x20; ++c) {
        if (c != '\t' && c != '\r' && c != '\n') text.replaceChar(c, '?');
    }
}

void appendDataValue(StringBuffer& out, const char* rawValue)
{
    StringBuffer clean(rawValue);
    replaceControlBytes(clean);
    const char* value = clean.getString();
    if (hasBothCdataMarkers(value) && isSelfWrapped(value)) {
        out << value;
    } else if (needsCdata(value) || hasBothCdataMarkers(value)) {
        appendCdata(out, value);
    } else {
        StringBuffer escaped(value);
        escaped.xmlEscapeNoQuotes();
        out << escaped;  // carries a failure of the escaping too
    }
}

const char* levelTag(char level)
{
    switch (level) {
        case LogEntry::kLevelError: return "error";
        case LogEntry::kLevelDebug: return "debug";
        default: return "info";
    }
}

const LogEntry* entryOf(TembrixObject* p)
{
    return static_cast<const LogEntry*>(p);
}

}  // namespace

ActivityLog::ActivityLog() : m_template("_MESSAGE_\r\n"), m_indent("  "), m_htmlMode(false), m_openContexts(0) {}

ActivityLog::~ActivityLog()
{
    m_entries.removeAllObjects();
}

const LogEntry* ActivityLog::entryAt(int32_t i) const
{
    return entryOf(m_entries.get(i));
}

bool ActivityLog::appendEntry(LogEntry* e)
{
    if (!e) return false;
    if (m_entries.append(e) < 0) {
        delete e;
        return false;
    }
    return true;
}

bool ActivityLog::addMessage(char level, const char* text, const char* keyword)
{
    if (!text || !*text) return false;
    bool recorded = false;
    const char* p = text;
    while (*p) {
        size_t n = std::strcspn(p, "\r\n");
        if (n > 0) {
            StringBuffer piece;
            if (recorded) piece << m_indent;
            piece << std::string_view(p, n);
            if (piece.hasFailed()) return false;
            auto* e = new (std::nothrow) LogEntry(LogEntry::kMessage, level, piece.getString(), keyword);
            if (e && recorded) e->setContinuation(true);
            if (!appendEntry(e)) return recorded;
            recorded = true;
        }
        p += n;
        if (*p) ++p;
    }
    return recorded;
}

bool ActivityLog::addData(const char* key, const char* value)
{
    return appendEntry(new (std::nothrow) LogEntry(LogEntry::kData, LogEntry::kLevelNone, value ? value : "", key));
}

bool ActivityLog::openContext(const char* name, bool flag)
{
    auto* e = new (std::nothrow) LogEntry(LogEntry::kContextOpen, LogEntry::kLevelNone, name ? name : "", nullptr);
    if (e) e->setContextFlag(flag);
    if (!appendEntry(e)) return false;
    ++m_openContexts;
    return true;
}

bool ActivityLog::closeContext()
{
    if (m_openContexts <= 0) return false;
    --m_openContexts;
    const LogEntry* last = entryOf(m_entries.last());
    if (last && last->kind() == LogEntry::kContextOpen) {
        delete m_entries.pop();
        return true;
    }
    return appendEntry(new (std::nothrow) LogEntry(LogEntry::kContextClose, LogEntry::kLevelNone, "", nullptr));
}

void ActivityLog::clear()
{
    m_entries.removeAllObjects();
    m_openContexts = 0;
}

void ActivityLog::renderText(StringBuffer& out, bool html)
{
    m_template.clear();
    m_template << (html ? "_MESSAGE_<br>" : "_MESSAGE_\r\n");
    m_htmlMode = html;
    StringBuffer message;
    StringBuffer line;
    for (int32_t i = 0; i < m_entries.getSize(); ++i) {
        const LogEntry* e = entryAt(i);
        if (!e) continue;
        message.clear();
        if (e->kind() == LogEntry::kMessage) {
            if (e->level() != LogEntry::kLevelError && e->level() != LogEntry::kLevelInfo) continue;
            message << e->text();
        } else if (e->kind() == LogEntry::kData) {
            message << e->keyword() << ": " << e->text();
        } else {
            continue;
        }
        if (m_htmlMode) message.xmlEscape();
        line.clear();
        line << m_template;
        line.replaceFirst("_MESSAGE_", message.getString());
        if (message.hasFailed()) line.markFailed(message.failure());
        out << line;  // carries a failure of the line too
    }
}

void ActivityLog::renderXml(StringBuffer& out, bool withDates) const
{
    out << "<TembrixLog>\n";
    StringBuffer prefix;
    ExtPtrArray open;  // borrowed pointers to the 'C' entries still open
    const int32_t count = m_entries.getSize();
    for (int32_t i = 0; i < count; ++i) {
        const LogEntry* e = entryAt(i);
        if (!e) continue;
        switch (e->kind()) {
            case LogEntry::kContextOpen:
                if (open.append(m_entries.get(i)) < 0)
                    out.markFailed(BufferFailure::OutOfMemory);  // its closing tag would be lost
                out << prefix << '<' << e->text() << ">\n";
                for (int k = 0; k < kXmlIndent; ++k) prefix << ' ';
                break;
            case LogEntry::kContextClose: {
                const LogEntry* c = entryOf(open.pop());
                if (!c) break;
                prefix.shorten(kXmlIndent);
                out << prefix << "</" << c->text() << ">\n";
                break;
            }
            case LogEntry::kData:
                if (std::strcmp(e->keyword(), kXmlKey) == 0) {
                    out << e->text() << '\n';
                    break;
                }
                out << prefix << '<' << e->keyword() << '>';
                appendDataValue(out, e->text());
                out << "</" << e->keyword() << ">\n";
                break;
            case LogEntry::kMessage: {
                StringBuffer lines(e->text());
                int32_t n = 1;
                while (i + 1 < count) {
                    const LogEntry* next = entryAt(i + 1);
                    if (!next || next->kind() != LogEntry::kMessage || !next->isContinuation()) break;
                    lines << '\n' << next->text();
                    ++n;
                    ++i;
                }
                replaceControlBytes(lines);
                if (lines.hasFailed()) out.markFailed(lines.failure());
                const char* tag = levelTag(e->level());
                out << prefix << '<' << tag;
                if (withDates) {
                    const platform::LocalTime& t = e->timeStamp();
                    char date[64];
                    std::snprintf(date, sizeof date, " date=\"%02d/%02d/%04d %02d:%02d:%02d\"", t.month, t.day, t.year,
                                  t.hour, t.minute, t.second);
                    out << date;
                }
                if (*e->keyword()) {
                    out << " keyword=\"";
                    StringBuffer kw(e->keyword());
                    kw.xmlEscape();
                    out << kw << '"';  // carries a failure of the escaping too
                }
                out << '>';
                const char* text = lines.getString();
                if (n > 1 || (hasBothCdataMarkers(text) && !isSelfWrapped(text)))
                    appendCdata(out, text);
                else if (needsCdata(text))
                    appendCdata(out, text);
                else
                    out << text;
                out << "</" << tag << ">\n";
                break;
            }
            default: break;
        }
    }
    // Contexts still open are closed here, innermost first, without indentation.
    while (const LogEntry* c = entryOf(open.pop())) {
        out << "</" << c->text() << ">\n";
    }
    out << "</TembrixLog>\n";
}

void ActivityLog::renderErrors(StringBuffer& out) const
{
    for (int32_t i = 0; i < m_entries.getSize(); ++i) {
        const LogEntry* e = entryAt(i);
        if (e && e->kind() == LogEntry::kMessage && e->level() == LogEntry::kLevelError) {
            out << e->text() << "\r\n";
        }
    }
}

}  // namespace hanamail
