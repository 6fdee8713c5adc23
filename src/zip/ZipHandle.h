#pragma once
#include <cstdint>

namespace hanamail {

class ZipSystem;

// What ZipDn and ZipEntryDn share: the object's identifier, the list index
// where it was last seen, and a counted reference to its registry.
class ZipHandle {
public:
    bool isNull() const { return m_system == nullptr; }
    uint32_t id() const { return m_id; }
    ZipSystem* system() const { return m_system; }

protected:
    ZipHandle() = default;
    ZipHandle(ZipSystem* system, uint32_t id, int32_t index);
    ZipHandle(const ZipHandle& other);
    ZipHandle(ZipHandle&& other) noexcept;
    ZipHandle& operator=(const ZipHandle& other);
    ZipHandle& operator=(ZipHandle&& other) noexcept;
    ~ZipHandle();

    uint32_t m_id = 0;
    mutable int32_t m_index = -1;
    ZipSystem* m_system = nullptr;

private:
    void drop();
};

}  // namespace hanamail
