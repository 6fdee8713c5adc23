#include "foundation/BufferLimit.h"

#include <atomic>

#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {
std::atomic<uint32_t> g_cap{0};
}

uint32_t BufferLimit::maxBytes()
{
    uint32_t cap = g_cap.load(std::memory_order_relaxed);
    return cap != 0 && cap < DataBuffer::kMaxSize ? cap : DataBuffer::kMaxSize;
}

void BufferLimit::setCapForTesting(uint32_t maxBytes)
{
    g_cap.store(maxBytes, std::memory_order_relaxed);
}

}  // namespace hanamail
