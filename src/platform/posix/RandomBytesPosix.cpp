#include <sys/random.h>

#include <cerrno>

#include "platform/RandomBytes.h"

namespace hanamail {

namespace platform {

bool randomBytes(void* out, size_t n)
{
    unsigned char* b = static_cast<unsigned char*>(out);
    size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(b + got, n - got, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace platform

}  // namespace hanamail
