#pragma once
// Small helpers the API-object tests share.
#include <string>

#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"

namespace hanamail {

namespace emailtest {

inline XString xs(const char* utf8)
{
    XString s;
    s.setFromUtf8(utf8);
    return s;
}

// The activity log of the last operation as UTF-8 text.
inline std::string logText(ClsEmail& e)
{
    StringBuffer sb;
    e.getErrorTextUtf8(sb, false);
    return sb.getString();
}

}  // namespace emailtest

}  // namespace hanamail
