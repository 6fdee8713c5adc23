#pragma once
#include <cstdint>

namespace hanamail {

// CRC-32 of the zip format (ISO 3309 polynomial, reflected, initial value and
// final complement all ones), computed incrementally by zlib's crc32.
class ZipCrc {
public:
    void update(const void* bytes, uint32_t n);
    uint32_t value() const { return m_value; }
    void reset() { m_value = 0; }

    static uint32_t of(const void* bytes, uint32_t n);

private:
    uint32_t m_value = 0;  // the finished CRC of the bytes so far, as zlib carries it
};

}  // namespace hanamail
