#include "zip/ZipCrc.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

}  // namespace

void ZipCrc::update(const void* bytes, uint32_t n)
{
    if (!bytes)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    uint32_t c = m_state;
    for (uint32_t i = 0; i < n; ++i)
        c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    m_state = c;
}

uint32_t ZipCrc::of(const void* bytes, uint32_t n)
{
    ZipCrc crc;
    crc.update(bytes, n);
    return crc.value();
}
