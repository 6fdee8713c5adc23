#pragma once
#include <cstddef>

namespace hanamail {

namespace platform {

// Fills n bytes from the system's random source; false when it fails.
bool randomBytes(void* out, size_t n);

}  // namespace platform

}  // namespace hanamail
