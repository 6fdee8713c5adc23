#pragma once
#include <cstdint>

namespace hanamail {

class TembrixObject;

// Growable array of object pointers. It does not own its elements: owners
// empty it (usually with removeAllObjects) before it is destroyed.
class ExtPtrArray {
public:
    static constexpr int32_t kMaxCount = 0x0FFFFFFF;

    ExtPtrArray();
    ExtPtrArray(int32_t initialCapacity, int32_t growthStep);
    ExtPtrArray(const ExtPtrArray&) = delete;
    ExtPtrArray& operator=(const ExtPtrArray&) = delete;
    virtual ~ExtPtrArray();

    int append(TembrixObject* p);  // the new count, or -1 when the array cannot grow
    bool insertAt(int32_t i, TembrixObject* p);
    bool setAt(int32_t i, TembrixObject* p);
    TembrixObject* get(int32_t i) const;
    TembrixObject* last() const;
    TembrixObject* pop();
    TembrixObject* removeAt(int32_t i);
    void removeAll();
    void removeAllObjects();
    void removeAllRaw();
    int32_t getSize() const { return m_count; }
    int32_t getCapacity() const { return m_capacity; }

private:
    bool growTo(int64_t needed);

    int32_t m_growthStep;
    int32_t m_capacity;
    int32_t m_count;
    TembrixObject** m_slots;
};

}  // namespace hanamail
