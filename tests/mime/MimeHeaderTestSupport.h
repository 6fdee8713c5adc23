#pragma once
// Helpers shared by the header tests.
#include <string>

#include "charset/Charset.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeField.h"
#include "mime/MimeHeader.h"

namespace hanamail {

namespace hdrtest {

inline std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

inline Charset charsetNamed(const char* name)
{
    Charset c;
    c.setByName(name);
    return c;
}

// One field rendered as WriteMime writes it for an email in the named charset.
inline std::string renderField(const char* name, const std::string& value, const char* charset)
{
    MimeField f(name, value.c_str());
    StringBuffer out;
    f.WriteMime(out, charsetNamed(charset));
    return str(out);
}

inline std::string writeHeader(const MimeHeader& h, const char* charset, const char* excluded = nullptr)
{
    StringBuffer out;
    h.WriteMime(out, excluded, charsetNamed(charset));
    return str(out);
}

inline std::string fieldValue(const MimeHeader& h, const char* name)
{
    StringBuffer v;
    return h.GetFieldValue(name, v) ? str(v) : std::string("<absent>");
}

}  // namespace hdrtest

}  // namespace hanamail
