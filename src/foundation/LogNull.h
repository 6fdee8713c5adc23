#pragma once
#include "foundation/LogBase.h"

namespace hanamail {

// For callers that want no log: accepts everything and records nothing.
class LogNull : public LogBase {
public:
    ~LogNull() override;

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
};

}  // namespace hanamail
