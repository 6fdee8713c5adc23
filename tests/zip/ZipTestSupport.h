#pragma once
#include <cstdint>
#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace ziptest {

inline uint16_t get16(const std::string& z, uint32_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(z.at(at)) |
                                 (static_cast<unsigned char>(z.at(at + 1)) << 8));
}
inline uint32_t get32(const std::string& z, uint32_t at)
{
    return get16(z, at) | (uint32_t(get16(z, at + 2)) << 16);
}

inline std::string bytesOf(const DataBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

inline std::string textOf(Logger& log)
{
    StringBuffer s;
    log.getText(s);
    return s.getString();
}

// Header fields read back by offset alone, without any zip library.
struct LocalHeader {
    uint32_t signature, crc, compressedSize, size;
    uint16_t version, flags, method, time, date;
    std::string name, data;
};
inline LocalHeader readLocal(const std::string& z, uint32_t at)
{
    LocalHeader h{get32(z, at),
                  get32(z, at + 14),
                  get32(z, at + 18),
                  get32(z, at + 22),
                  get16(z, at + 4),
                  get16(z, at + 6),
                  get16(z, at + 8),
                  get16(z, at + 10),
                  get16(z, at + 12),
                  {},
                  {}};
    h.name = z.substr(at + 30, get16(z, at + 26));
    h.data = z.substr(at + 30 + h.name.size() + get16(z, at + 28), h.compressedSize);
    return h;
}

struct CentralHeader {
    uint32_t signature, crc, compressedSize, size, externalAttrs, localOffset;
    uint16_t madeBy, version, flags, method, time, date, extraCommentDiskInternal;
    std::string name;
};
inline CentralHeader readCentral(const std::string& z, uint32_t at)
{
    CentralHeader h{
        get32(z, at),
        get32(z, at + 16),
        get32(z, at + 20),
        get32(z, at + 24),
        get32(z, at + 38),
        get32(z, at + 42),
        get16(z, at + 4),
        get16(z, at + 6),
        get16(z, at + 8),
        get16(z, at + 10),
        get16(z, at + 12),
        get16(z, at + 14),
        static_cast<uint16_t>(get16(z, at + 30) | get16(z, at + 32) | get16(z, at + 34) | get16(z, at + 36)),
        {}};
    h.name = z.substr(at + 46, get16(z, at + 28));
    return h;
}

struct EndRecord {
    uint32_t signature, cdSize, cdOffset;
    uint16_t disks, entriesHere, entriesTotal, commentLen;
};
inline EndRecord readEnd(const std::string& z)
{
    uint32_t at = static_cast<uint32_t>(z.size() - 22);
    return EndRecord{get32(z, at),      get32(z, at + 12),
                     get32(z, at + 16), static_cast<uint16_t>(get16(z, at + 4) | get16(z, at + 6)),
                     get16(z, at + 8),  get16(z, at + 10),
                     get16(z, at + 20)};
}

}  // namespace ziptest

}  // namespace hanamail
