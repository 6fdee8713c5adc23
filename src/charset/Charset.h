#pragma once
#include "foundation/StringBuffer.h"

namespace hanamail {

// A charset remembered as its preferred name and code page.
class Charset {
public:
    Charset() = default;
    virtual ~Charset() = default;

    void setByName(const char* name);
    void setByCodePage(int cp);
    const char* getName() const { return m_name.getString(); }
    int getCodePage() const { return m_codePage; }

private:
    StringBuffer m_name;
    int m_codePage = 0;
};

}  // namespace hanamail
