#include "foundation/LogNull.h"

namespace hanamail {

LogNull::~LogNull() = default;

void LogNull::getXml(StringBuffer&) {}
void LogNull::getHtml(StringBuffer&) {}
void LogNull::getText(StringBuffer&) {}
bool LogNull::logError(const char*)
{
    return true;
}
bool LogNull::logInfo(const char*)
{
    return true;
}
bool LogNull::logDebug(const char*)
{
    return true;
}
bool LogNull::logXml(const char*)
{
    return true;
}
bool LogNull::clearLog()
{
    return true;
}
bool LogNull::enterContext(const char*, bool)
{
    return true;
}
bool LogNull::leaveContext()
{
    return true;
}
bool LogNull::logData(const char*, const char*)
{
    return true;
}
bool LogNull::logDataLong(const char*, int32_t)
{
    return true;
}
void LogNull::logTickCount(const char*) {}
bool LogNull::clearEntries()
{
    return true;
}
bool LogNull::getErrorSummary(StringBuffer&)
{
    return true;
}
bool LogNull::saveXml(bool, const char*)
{
    return true;
}
void LogNull::setOption(int32_t) {}
bool LogNull::hadError()
{
    return false;
}

}  // namespace hanamail
