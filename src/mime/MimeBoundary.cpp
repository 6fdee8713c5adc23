#include "mime/MimeBoundary.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/StringBuffer.h"
#include "mime/MimeText.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

// Lower-case 8-4-4-4-12 form of a fresh UUID.
std::string freshUuidText()
{
    platform::Uuid u{};
    if (!platform::createUuid(u)) {
        // Without the system's source a boundary must still differ from the
        // last one: mix the tick count with a process-wide counter.
        static std::atomic<uint32_t> counter{0};
        const uint32_t n = ++counter;
        const uint32_t t = platform::tickCount();
        u.data1 = t ^ (n * 2654435761u);
        u.data2 = static_cast<uint16_t>(n);
        u.data3 = static_cast<uint16_t>(t >> 16);
        for (int i = 0; i < 8; ++i) u.data4[i] = static_cast<uint8_t>((t >> (i * 3)) ^ (n >> i) ^ (i * 37));
    }
    return mimetext::lowered(platform::uuidToString(u));
}

}  // namespace

void MimeBoundary::NewBoundary(StringBuffer& out)
{
    const std::string u = freshUuidText();
    out.clear();
    if (u.size() < 36) return;
    std::string b = "----=_NextPart_";
    b += u.substr(0, 3);
    b += '_';
    b += u.substr(3, 4);
    b += '_';
    b += u.substr(9, 4);
    b += u.substr(14, 4);
    b += '.';
    b += u.substr(24, 8);
    out << b.c_str();
}

}  // namespace hanamail
