#include "foundation/AttributeSet.h"

#include <cstring>

#include "foundation/StringPair.h"

namespace hanamail {

AttributeSet::~AttributeSet()
{
    m_pairs.removeAllObjects();
}

void AttributeSet::add(const char* name, const char* value)
{
    auto* p = new StringPair(name, value);
    if (m_pairs.append(p) < 0) delete p;
}

const StringPair* AttributeSet::pair(int32_t i) const
{
    return static_cast<const StringPair*>(m_pairs.get(i));
}

const char* AttributeSet::name(int32_t i) const
{
    const StringPair* p = pair(i);
    return p ? p->nameText() : "";
}

const char* AttributeSet::value(int32_t i) const
{
    const StringPair* p = pair(i);
    return p ? p->valueText() : "";
}

bool AttributeSet::has(const char* name, const char* value) const
{
    for (int32_t i = 0; i < count(); ++i)
        if (std::strcmp(this->name(i), name ? name : "") == 0 && std::strcmp(this->value(i), value ? value : "") == 0)
            return true;
    return false;
}

}  // namespace hanamail
