#pragma once
#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

class LogEntry;

// The entry store of a Logger and its three renderings (text, HTML, XML).
class ActivityLog {
public:
    ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;
    virtual ~ActivityLog();

    // Splits text at CR and LF; each non-empty piece becomes one entry, the
    // later ones indented and marked as continuations. False when nothing was recorded.
    bool addMessage(char level, const char* text, const char* keyword);
    // key as given (the Logger normalises it); a null value records "".
    bool addData(const char* key, const char* value);
    bool openContext(const char* name, bool flag);
    // An empty context is removed without a trace.
    bool closeContext();
    void clear();

    int32_t entryCount() const { return m_entries.getSize(); }
    const LogEntry* entryAt(int32_t i) const;

    // One line per error/info message and data line: CR LF ends (text) or "<br>" (HTML, escaped).
    void renderText(StringBuffer& out, bool html);
    // LF line ends; dates only when asked for.
    void renderXml(StringBuffer& out, bool withDates) const;
    // The error messages, one per CR LF line.
    void renderErrors(StringBuffer& out) const;

private:
    bool appendEntry(LogEntry* e);

    ExtPtrArray m_entries;
    StringBuffer m_template;
    StringBuffer m_indent;
    bool m_htmlMode;
    int32_t m_openContexts;
};

}  // namespace hanamail
