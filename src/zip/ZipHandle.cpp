#include "zip/ZipHandle.h"

#include "zip/ZipSystem.h"

namespace hanamail {

ZipHandle::ZipHandle(ZipSystem* system, uint32_t id, int32_t index) : m_id(id), m_index(index), m_system(system)
{
    if (m_system) m_system->addRef();
}

ZipHandle::ZipHandle(const ZipHandle& other) : ZipHandle(other.m_system, other.m_id, other.m_index) {}

ZipHandle::ZipHandle(ZipHandle&& other) noexcept : m_id(other.m_id), m_index(other.m_index), m_system(other.m_system)
{
    other.m_system = nullptr;
    other.m_id = 0;
    other.m_index = -1;
}

ZipHandle& ZipHandle::operator=(const ZipHandle& other)
{
    if (this != &other) {
        if (other.m_system) other.m_system->addRef();
        drop();
        m_system = other.m_system;
        m_id = other.m_id;
        m_index = other.m_index;
    }
    return *this;
}

ZipHandle& ZipHandle::operator=(ZipHandle&& other) noexcept
{
    if (this != &other) {
        drop();
        m_system = other.m_system;
        m_id = other.m_id;
        m_index = other.m_index;
        other.m_system = nullptr;
        other.m_id = 0;
        other.m_index = -1;
    }
    return *this;
}

ZipHandle::~ZipHandle()
{
    drop();
}

void ZipHandle::drop()
{
    if (m_system) m_system->release();
    m_system = nullptr;
}

}  // namespace hanamail
