#pragma once
#include <cstddef>

namespace hanamail {

namespace platform {

// Overwrites memory that held a secret in a way the compiler may not drop
// as a dead store.
inline void secureZero(void* p, size_t n)
{
    volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
    while (n--) *b++ = 0;
}

}  // namespace platform

}  // namespace hanamail
