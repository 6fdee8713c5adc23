#pragma once
#include <cstdint>

// CRC-32 of the zip format (ISO 3309 polynomial, reflected, initial value and
// final complement all ones), table-driven and computed incrementally.
class ZipCrc {
public:
    void update(const void* bytes, uint32_t n);
    uint32_t value() const { return ~m_state; }
    void reset() { m_state = 0xFFFFFFFFu; }

    static uint32_t of(const void* bytes, uint32_t n);

private:
    uint32_t m_state = 0xFFFFFFFFu;
};
