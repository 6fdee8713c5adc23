#include "foundation/Logger.h"

#include <cstdio>
#include <new>

#include "foundation/ActivityLog.h"
#include "foundation/FileSys.h"
#include "foundation/LogEntry.h"
#include "foundation/StringBuffer.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

// Keys are trimmed and spaces become underscores, so that they stay XML element names.
bool normaliseKey(const char* key, StringBuffer& out)
{
    if (!out.setString(key)) return false;
    out.trim2();
    out.replaceChar(' ', '_');
    return !out.isEmpty();
}

}  // namespace

Logger::Logger() : m_store(new (std::nothrow) ActivityLog), m_hadError(0), m_option(0) {}

Logger::~Logger()
{
    delete m_store;
}

void Logger::getXml(StringBuffer& out)
{
    if (m_store) m_store->renderXml(out, false);
}

void Logger::getHtml(StringBuffer& out)
{
    if (m_store) m_store->renderText(out, true);
}

void Logger::getText(StringBuffer& out)
{
    if (m_store) m_store->renderText(out, false);
}

bool Logger::logMessage(char level, const char* text, const char* keyword)
{
    if (level == LogEntry::kLevelError) m_hadError = 1;
    if (!m_store || !text || !*text) return false;
    return m_store->addMessage(level, text, keyword);
}

bool Logger::logError(const char* text)
{
    return logMessage(LogEntry::kLevelError, text, nullptr);
}
bool Logger::logInfo(const char* text)
{
    return logMessage(LogEntry::kLevelInfo, text, nullptr);
}
bool Logger::logDebug(const char* text)
{
    return logMessage(LogEntry::kLevelDebug, text, nullptr);
}

bool Logger::logXml(const char* xmlText)
{
    return m_store && m_store->addData("__xml__", xmlText);
}

bool Logger::clearLog()
{
    m_hadError = 0;
    if (!m_store) return false;
    m_store->clear();
    return true;
}

bool Logger::enterContext(const char* name, bool flag)
{
    return m_store && m_store->openContext(name, flag);
}

bool Logger::leaveContext()
{
    return m_store && m_store->closeContext();
}

bool Logger::logData(const char* key, const char* value)
{
    StringBuffer k;
    if (!m_store || !normaliseKey(key, k)) return false;
    return m_store->addData(k.getString(), value);
}

bool Logger::logDataLong(const char* key, int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return logData(key, text);
}

void Logger::logTickCount(const char* key)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(platform::tickCount()));
    logData(key, text);
}

bool Logger::clearEntries()
{
    if (!m_store) return false;
    m_store->clear();
    return true;
}

bool Logger::getErrorSummary(StringBuffer& out)
{
    if (!m_store) return false;
    // False when this summary could not be appended in full.
    const bool failedBefore = out.hasFailed();
    m_store->renderErrors(out);
    return failedBefore || !out.hasFailed();
}

bool Logger::saveXml(bool withDates, const char* fileName)
{
    if (!fileName || !m_store) return false;
    StringBuffer xml("<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n");
    if (m_store->entryCount() == 0)
        xml << "<TembrixLog>The log is empty</TembrixLog>";
    else
        m_store->renderXml(xml, withDates);
    if (xml.hasFailed()) return false;  // no partial log on disk
    return FileSys::writeFile(fileName, xml.getString(), static_cast<uint32_t>(xml.getSize()), nullptr);
}

void Logger::setOption(int32_t value)
{
    m_option = value;
}

bool Logger::hadError()
{
    return m_hadError != 0;
}

bool Logger::isEmpty() const
{
    return !m_store || m_store->entryCount() == 0;
}

}  // namespace hanamail
