#pragma once
#include <cstdint>

namespace hanamail {

// Why a buffer could not grow. A buffer remembers the first failure of an
// append until it is cleared, so a writer that appends in many steps can
// check once at the end.
enum class BufferFailure : uint8_t { None = 0, TooLarge = 1, OutOfMemory = 2 };

// The largest size any buffer may reach. It is the 32-bit limit of the
// buffers unless a test lowers it to exercise the failure paths without
// allocating gigabytes.
class BufferLimit {
public:
    BufferLimit() = delete;
    static uint32_t maxBytes();
    // 0 restores the natural limit.
    static void setCapForTesting(uint32_t maxBytes);
};

}  // namespace hanamail
