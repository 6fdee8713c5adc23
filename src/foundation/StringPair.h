#pragma once
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

// A name and a value; either is absent when built from a null or empty string.
class StringPair : public TembrixObject {
public:
    StringPair(const char* name, const char* value);
    StringPair(const StringPair&) = delete;
    StringPair& operator=(const StringPair&) = delete;
    ~StringPair() override;

    const StringBuffer* getName() const { return m_name; }
    const StringBuffer* getValue() const { return m_value; }
    StringBuffer* getName() { return m_name; }
    StringBuffer* getValue() { return m_value; }
    // The text, or "" when absent.
    const char* nameText() const { return m_name ? m_name->getString() : ""; }
    const char* valueText() const { return m_value ? m_value->getString() : ""; }

private:
    StringBuffer* m_name;
    StringBuffer* m_value;
};

}  // namespace hanamail
