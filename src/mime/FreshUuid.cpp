#include "mime/FreshUuid.h"

#include <atomic>
#include <cstdint>

#include "platform/Platform.h"

namespace hanamail {

std::string FreshUuid::text()
{
    platform::Uuid u{};
    if (!platform::createUuid(u)) {
        static std::atomic<uint32_t> counter{0};
        const uint32_t n = ++counter;
        const uint32_t t = platform::tickCount();
        u.data1 = t ^ (n * 2654435761u);
        u.data2 = static_cast<uint16_t>(n);
        u.data3 = static_cast<uint16_t>(t >> 16);
        for (int i = 0; i < 8; ++i) u.data4[i] = static_cast<uint8_t>((t >> (i * 3)) ^ (n >> i) ^ (i * 37));
    }
    return platform::uuidToString(u);
}

}  // namespace hanamail
