#pragma once
#include <cstdint>

#include "foundation/LogBase.h"

namespace hanamail {

class ActivityLog;

// The recording log. When its entry store cannot be allocated, every
// recording operation returns false and every reading operation produces nothing.
class Logger : public LogBase {
public:
    Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    ~Logger() override;

    void getXml(StringBuffer& out) override;
    void getHtml(StringBuffer& out) override;
    void getText(StringBuffer& out) override;
    bool logError(const char* text) override;
    bool logInfo(const char* text) override;
    bool logDebug(const char* text) override;
    bool logXml(const char* xmlText) override;
    bool clearLog() override;
    bool enterContext(const char* name, bool flag) override;
    bool leaveContext() override;
    bool logData(const char* key, const char* value) override;
    bool logDataLong(const char* key, int32_t value) override;
    void logTickCount(const char* key) override;
    bool clearEntries() override;
    bool getErrorSummary(StringBuffer& out) override;
    bool saveXml(bool withDates, const char* fileName) override;
    void setOption(int32_t value) override;
    bool hadError() override;

    // A message with a keyword ('E', 'I' or 'D'); the keyword becomes an XML attribute.
    bool logMessage(char level, const char* text, const char* keyword);
    bool isEmpty() const;

private:
    ActivityLog* m_store;
    uint8_t m_hadError;
    int32_t m_option;
};

}  // namespace hanamail
