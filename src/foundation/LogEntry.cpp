#include "foundation/LogEntry.h"

#include <new>

#include "foundation/CheckByte.h"

namespace hanamail {

namespace {
const platform::LocalTime kNoTime{};
}

LogEntry::LogEntry(char kind, char level, const char* text, const char* keyword)
    : m_check(kCheck),
      m_time(platform::localTimeNow()),
      m_kind(kind),
      m_level(level),
      m_text(text ? text : ""),
      m_keyword(keyword && *keyword ? new (std::nothrow) StringBuffer(keyword) : nullptr),
      m_extra(nullptr),
      m_continuation(0),
      m_contextFlag(0)
{
}

LogEntry::~LogEntry()
{
    if (!alive()) return;
    delete m_keyword;
    delete m_extra;
    m_keyword = nullptr;
    m_extra = nullptr;
    m_check = 0;
}

bool LogEntry::alive() const
{
    return HM_ALIVE(m_check, kCheck, "LogEntry");
}

char LogEntry::kind() const
{
    return alive() ? m_kind : '\0';
}
char LogEntry::level() const
{
    return alive() ? m_level : '\0';
}
const char* LogEntry::text() const
{
    return alive() ? m_text.getString() : "";
}
const char* LogEntry::keyword() const
{
    return alive() && m_keyword ? m_keyword->getString() : "";
}
const platform::LocalTime& LogEntry::timeStamp() const
{
    return alive() ? m_time : kNoTime;
}
bool LogEntry::isContinuation() const
{
    return alive() && m_continuation != 0;
}
bool LogEntry::contextFlag() const
{
    return alive() && m_contextFlag != 0;
}

void LogEntry::setContinuation(bool on)
{
    if (alive()) m_continuation = on ? 1 : 0;
}

void LogEntry::setContextFlag(bool on)
{
    if (alive()) m_contextFlag = on ? 1 : 0;
}

}  // namespace hanamail
