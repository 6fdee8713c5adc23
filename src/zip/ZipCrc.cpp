// CRC-32 of zip entries (the zip application note, section 4.4.7).
#include "zip/ZipCrc.h"

#include <zlib.h>

namespace hanamail {

namespace {
// zlib takes lengths as uInt; pieces of this size fit it on every target.
constexpr uint32_t kMaxPiece = 1u << 30;
}  // namespace

void ZipCrc::update(const void* bytes, uint32_t n)
{
    if (!bytes) return;
    const Bytef* p = static_cast<const Bytef*>(bytes);
    uLong c = m_value;
    while (n > 0) {
        uint32_t piece = n < kMaxPiece ? n : kMaxPiece;
        c = crc32(c, p, static_cast<uInt>(piece));
        p += piece;
        n -= piece;
    }
    m_value = static_cast<uint32_t>(c);
}

uint32_t ZipCrc::of(const void* bytes, uint32_t n)
{
    ZipCrc crc;
    crc.update(bytes, n);
    return crc.value();
}

}  // namespace hanamail
