#include <windows.h>
// (after windows.h, which it needs)
#include <ntsecapi.h>

#include "platform/RandomBytes.h"

namespace hanamail {

namespace platform {

bool randomBytes(void* out, size_t n)
{
    unsigned char* b = static_cast<unsigned char*>(out);
    while (n) {
        const ULONG take = n > 0x10000 ? 0x10000 : static_cast<ULONG>(n);
        if (!RtlGenRandom(b, take)) return false;
        b += take, n -= take;
    }
    return true;
}

}  // namespace platform

}  // namespace hanamail
