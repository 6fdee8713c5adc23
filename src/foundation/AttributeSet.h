#pragma once
#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class StringPair;

// The attributes of one XML element: name/value pairs in document order,
// duplicates kept as they came.
class AttributeSet : public TembrixObject {
public:
    AttributeSet() = default;
    AttributeSet(const AttributeSet&) = delete;
    AttributeSet& operator=(const AttributeSet&) = delete;
    ~AttributeSet() override;

    void add(const char* name, const char* value);
    int32_t count() const { return m_pairs.getSize(); }
    // "" out of range.
    const char* name(int32_t i) const;
    const char* value(int32_t i) const;
    // True when a pair has exactly this name and this value.
    bool has(const char* name, const char* value) const;

private:
    const StringPair* pair(int32_t i) const;

    ExtPtrArray m_pairs;
};

}  // namespace hanamail
