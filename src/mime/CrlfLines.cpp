#include "mime/CrlfLines.h"

#include "foundation/DataBuffer.h"

namespace hanamail {

bool CrlfLines::hasBareLineEnd(const unsigned char* bytes, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] == '\n') return true;
        if (bytes[i] == '\r') {
            if (i + 1 >= n || bytes[i + 1] != '\n') return true;
            ++i;
        }
    }
    return false;
}

bool CrlfLines::append(const unsigned char* bytes, uint32_t n, DataBuffer& out)
{
    uint32_t lines = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (bytes[i] == '\n' || bytes[i] == '\r') ++lines;
    // Beyond what a buffer can hold the appends below fail by themselves.
    const uint64_t want = uint64_t{out.getSize()} + n + lines;
    if (want <= UINT32_MAX && !out.ensureCapacity(static_cast<uint32_t>(want))) return false;
    uint32_t from = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') continue;
        if (!out.append(bytes + from, i - from) || !out.append("\r\n", 2)) return false;
        if (bytes[i] == '\r' && i + 1 < n && bytes[i + 1] == '\n') ++i;
        from = i + 1;
    }
    return out.append(bytes + from, n - from);
}

}  // namespace hanamail
