#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "platform/LocalTime.h"

namespace hanamail {

// One line of an activity log: a message, a key/value line, or a context
// opened or closed. Owned by the ActivityLog that recorded it.
class LogEntry : public TembrixObject {
public:
    static constexpr uint8_t kCheck = 0xDC;

    static constexpr char kMessage = 'M';
    static constexpr char kData = 'D';
    static constexpr char kContextOpen = 'C';
    static constexpr char kContextClose = 'E';

    static constexpr char kLevelError = 'E';
    static constexpr char kLevelInfo = 'I';
    static constexpr char kLevelDebug = 'D';
    static constexpr char kLevelNone = '0';

    // text: the message line, data value or context name; keyword: the
    // message tag or data key (null or "" for none).
    LogEntry(char kind, char level, const char* text, const char* keyword);
    LogEntry(const LogEntry&) = delete;
    LogEntry& operator=(const LogEntry&) = delete;
    ~LogEntry() override;

    char kind() const;
    char level() const;
    const char* text() const;
    // "" when there is none.
    const char* keyword() const;
    const platform::LocalTime& timeStamp() const;
    bool isContinuation() const;
    void setContinuation(bool on);
    bool contextFlag() const;
    void setContextFlag(bool on);

private:
    bool alive() const;

    uint8_t m_check;
    platform::LocalTime m_time;
    char m_kind;
    char m_level;
    StringBuffer m_text;
    StringBuffer* m_keyword;
    StringBuffer* m_extra;  // kept for the entry layout; nothing records it yet
    uint8_t m_continuation;
    uint8_t m_contextFlag;
};

}  // namespace hanamail
