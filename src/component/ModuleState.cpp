#include "component/ModuleState.h"

#include <atomic>

namespace hanamail {

namespace {
// Constant-initialised, so it is usable before and after every other static.
std::atomic<int32_t> g_liveObjects{0};
}  // namespace

void ModuleState::objectCreated()
{
    g_liveObjects.fetch_add(1, std::memory_order_relaxed);
}

void ModuleState::objectDestroyed()
{
    g_liveObjects.fetch_sub(1, std::memory_order_relaxed);
}

int32_t ModuleState::liveObjects()
{
    return g_liveObjects.load(std::memory_order_relaxed);
}

}  // namespace hanamail
