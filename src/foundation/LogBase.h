#pragma once
#include <cstdint>

namespace hanamail {

class StringBuffer;

// The activity-log interface every layer writes into. Texts, keys and names
// are NUL-terminated UTF-8. Recording never fails the operation that logs.
class LogBase {
public:
    virtual ~LogBase() = default;
    virtual void getXml(StringBuffer& out) = 0;
    virtual void getHtml(StringBuffer& out) = 0;
    virtual void getText(StringBuffer& out) = 0;
    virtual bool logError(const char* text) = 0;
    virtual bool logInfo(const char* text) = 0;
    virtual bool logDebug(const char* text) = 0;
    virtual bool logXml(const char* xmlText) = 0;
    virtual bool clearLog() = 0;
    virtual bool enterContext(const char* name, bool flag) = 0;
    virtual bool leaveContext() = 0;
    virtual bool logData(const char* key, const char* value) = 0;
    virtual bool logDataLong(const char* key, int32_t value) = 0;
    virtual void logTickCount(const char* key) = 0;
    virtual bool clearEntries() = 0;
    virtual bool getErrorSummary(StringBuffer& out) = 0;
    virtual bool saveXml(bool withDates, const char* fileName) = 0;
    virtual void setOption(int32_t value) = 0;
    virtual bool hadError() = 0;
};

// Closes the context it opened on every return path.
class LogContextExit {
public:
    LogContextExit(LogBase& log, const char* name, bool flag = true) : m_log(log) { m_log.enterContext(name, flag); }
    ~LogContextExit() { m_log.leaveContext(); }
    LogContextExit(const LogContextExit&) = delete;
    LogContextExit& operator=(const LogContextExit&) = delete;

private:
    LogBase& m_log;
};

}  // namespace hanamail
