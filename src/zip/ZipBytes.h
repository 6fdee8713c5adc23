#pragma once
#include <cstdint>

namespace hanamail {

// Little-endian fields of the zip headers.
namespace zipbytes {

inline void put16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void put32(unsigned char* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}

}  // namespace zipbytes

}  // namespace hanamail
