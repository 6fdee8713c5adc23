#pragma once
#include <cstdint>

#include "foundation/DataBuffer.h"

namespace hanamail {

// The data object of a data entry: its own copy of the caller's bytes, how
// they are compressed, and what writing the entry found out about them.
class AltData {
public:
    static constexpr uint16_t kStored = 0;
    static constexpr uint16_t kDeflate = 8;

    AltData() = default;
    AltData(const AltData&) = delete;
    AltData& operator=(const AltData&) = delete;

    bool setBytes(const void* bytes, uint32_t n);
    const unsigned char* bytes() const { return m_bytes.getData(); }
    uint32_t size() const { return m_bytes.getSize(); }

    uint16_t method = kDeflate;
    int32_t level = 6;
    bool dateTimeSet = false;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint32_t crc = 0;
    uint32_t localHeaderOffset = 0;
    uint16_t internalAttributes = 0;
    uint32_t compressedSize = 0;

private:
    DataBuffer m_bytes;
};

}  // namespace hanamail
