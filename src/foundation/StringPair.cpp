#include "foundation/StringPair.h"

namespace hanamail {

StringPair::StringPair(const char* name, const char* value)
    : m_name(name && *name ? new StringBuffer(name) : nullptr),
      m_value(value && *value ? new StringBuffer(value) : nullptr)
{
}

StringPair::~StringPair()
{
    delete m_name;
    delete m_value;
}

}  // namespace hanamail
