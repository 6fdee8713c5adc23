#pragma once
#include "foundation/Api.h"
#include "foundation/Logger.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class StringBuffer;
class XString;

// Base of the API objects: each owns the activity log of its last operation.
class ClsBase : public TembrixObject {
public:
    ClsBase() = default;
    ClsBase(const ClsBase&) = delete;
    ClsBase& operator=(const ClsBase&) = delete;
    ~ClsBase() override = default;

    // The text form of the log (ErrorInfo), with every line end made CR LF when asked.
    HANAMAIL_API void getErrorText(XString& out, bool crlf);
    // The same text as UTF-8, replacing what out held.
    HANAMAIL_API void getErrorTextUtf8(StringBuffer& out, bool crlf);
    // The log as an XML file (UTF-8 name, trimmed); false for an empty name.
    HANAMAIL_API bool saveErrorXml(const char* utf8FileName);
    HANAMAIL_API bool saveErrorXml(const XString& fileName);

    Logger& getLog() { return m_log; }

protected:
    Logger m_log;
};

}  // namespace hanamail
