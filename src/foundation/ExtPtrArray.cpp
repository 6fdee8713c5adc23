#include "foundation/ExtPtrArray.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/TembrixObject.h"

namespace hanamail {

ExtPtrArray::ExtPtrArray() : ExtPtrArray(5, 5) {}

ExtPtrArray::ExtPtrArray(int32_t initialCapacity, int32_t growthStep)
    : m_growthStep(growthStep > 0 ? growthStep : 5),
      m_capacity(initialCapacity > 0 ? initialCapacity : 5),
      m_count(0),
      m_slots(nullptr)
{
}

ExtPtrArray::~ExtPtrArray()
{
    std::free(m_slots);
}

// Grows the slot array so that index needed - 1 exists.
bool ExtPtrArray::growTo(int64_t needed)
{
    if (needed > kMaxCount) return false;
    if (m_slots && needed <= m_capacity) return true;
    int64_t newCap = m_capacity;
    if (m_slots || needed > m_capacity) {
        newCap = static_cast<int64_t>(m_capacity) + m_growthStep;
        if (newCap < needed) newCap = needed;
        if (newCap > kMaxCount) newCap = kMaxCount;
    }
    auto* slots = static_cast<TembrixObject**>(std::calloc(static_cast<size_t>(newCap), sizeof(TembrixObject*)));
    if (!slots) return false;
    if (m_slots) {
        std::memcpy(slots, m_slots, static_cast<size_t>(m_count) * sizeof(TembrixObject*));
        std::free(m_slots);
    }
    bool grew = m_slots != nullptr || newCap != m_capacity;
    m_slots = slots;
    m_capacity = static_cast<int32_t>(newCap);
    // The step becomes the new capacity, so the array doubles and long lists
    // cost linear time.
    if (grew && m_growthStep < m_capacity) m_growthStep = m_capacity;
    return true;
}

int ExtPtrArray::append(TembrixObject* p)
{
    if (!growTo(static_cast<int64_t>(m_count) + 1)) return -1;
    m_slots[m_count++] = p;
    return m_count;
}

bool ExtPtrArray::insertAt(int32_t i, TembrixObject* p)
{
    if (i < 0) i = 0;
    if (i > m_count) i = m_count;
    if (!growTo(static_cast<int64_t>(m_count) + 1)) return false;
    std::memmove(m_slots + i + 1, m_slots + i, static_cast<size_t>(m_count - i) * sizeof(TembrixObject*));
    m_slots[i] = p;
    ++m_count;
    return true;
}

bool ExtPtrArray::setAt(int32_t i, TembrixObject* p)
{
    if (i < 0 || !growTo(static_cast<int64_t>(i) + 1)) return false;
    m_slots[i] = p;
    if (i >= m_count) m_count = i + 1;  // slots between were zeroed when allocated
    return true;
}

TembrixObject* ExtPtrArray::get(int32_t i) const
{
    return (i >= 0 && i < m_count) ? m_slots[i] : nullptr;
}

TembrixObject* ExtPtrArray::last() const
{
    return m_count > 0 ? m_slots[m_count - 1] : nullptr;
}

TembrixObject* ExtPtrArray::pop()
{
    if (m_count == 0) return nullptr;
    TembrixObject* p = m_slots[--m_count];
    m_slots[m_count] = nullptr;
    return p;
}

TembrixObject* ExtPtrArray::removeAt(int32_t i)
{
    if (i < 0 || i >= m_count) return nullptr;
    TembrixObject* p = m_slots[i];
    std::memmove(m_slots + i, m_slots + i + 1, static_cast<size_t>(m_count - i - 1) * sizeof(TembrixObject*));
    m_slots[--m_count] = nullptr;
    return p;
}

void ExtPtrArray::removeAll()
{
    if (m_slots) std::memset(m_slots, 0, static_cast<size_t>(m_count) * sizeof(TembrixObject*));
    m_count = 0;
}

void ExtPtrArray::removeAllObjects()
{
    for (int32_t i = 0; i < m_count; ++i) delete m_slots[i];
    removeAll();
}

void ExtPtrArray::removeAllRaw()
{
    for (int32_t i = 0; i < m_count; ++i) {
        if (m_slots[i]) ::operator delete(static_cast<void*>(m_slots[i]));
    }
    removeAll();
}

}  // namespace hanamail
