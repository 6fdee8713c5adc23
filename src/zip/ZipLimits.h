#pragma once
#include <cstdint>

namespace hanamail {

// What the classic (non-Zip64) headers can describe. 0xFFFFFFFF in a size or
// offset field tells readers to look for Zip64 data, so it is not a value.
class ZipLimits {
public:
    static constexpr uint64_t kMaxEntries = 0xFFFF;
    static constexpr uint64_t kMaxNameBytes = 0xFFFF;
    static constexpr uint64_t kMaxSizeOrOffset = 0xFFFFFFFEu;
    // The fixed part of a local file header, before the name.
    static constexpr uint64_t kLocalHeaderBytes = 30;

    static constexpr bool entryCountFits(uint64_t n) { return n <= kMaxEntries; }
    static constexpr bool nameFits(uint64_t bytes) { return bytes <= kMaxNameBytes; }
    static constexpr bool sizeFits(uint64_t v) { return v <= kMaxSizeOrOffset; }
    // An entry whose local header starts at offset and whose name and data
    // take nameBytes and dataBytes: every size and offset it implies fits.
    static constexpr bool entryFits(uint64_t offset, uint64_t nameBytes, uint64_t uncompressed, uint64_t compressed)
    {
        return nameFits(nameBytes) && sizeFits(uncompressed) && sizeFits(compressed) && sizeFits(offset) &&
               sizeFits(offset + kLocalHeaderBytes + nameBytes + compressed);
    }
};

}  // namespace hanamail
