#include "component/ModuleState.h"

#include <atomic>
#include <mutex>

#include "component/IHanamail.h"
#include "platform/TypeLibrary.h"

namespace hanamail {

// {2A9E4C71-8D3B-4F06-A5C2-71B9E0D4C833}
const GUID LIBID_HanamailLib = {0x2A9E4C71, 0x8D3B, 0x4F06, {0xA5, 0xC2, 0x71, 0xB9, 0xE0, 0xD4, 0xC8, 0x33}};

namespace {
// Constant-initialised, so they are usable before and after every other
// static, and under the loader lock.
std::atomic<int32_t> g_liveObjects{0};
std::atomic<int32_t> g_locks{0};
std::mutex g_lock;
void* g_module = nullptr;
ITypeInfo* g_typeInfo = nullptr;
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

void ModuleState::lock(bool on)
{
    if (on)
        g_locks.fetch_add(1, std::memory_order_relaxed);
    else
        g_locks.fetch_sub(1, std::memory_order_relaxed);
}

int32_t ModuleState::count()
{
    return g_liveObjects.load(std::memory_order_acquire) + g_locks.load(std::memory_order_acquire);
}

void ModuleState::setModule(void* instance)
{
    g_module = instance;
}

void* ModuleState::moduleHandle()
{
    return g_module;
}

HRESULT ModuleState::typeInfo(ITypeInfo** out)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_typeInfo) {
        const HRESULT hr = platform::loadRegisteredTypeInfo(LIBID_HanamailLib, kTypeLibMajor, kTypeLibMinor,
                                                            kTypeLibLocale, IID_IHanamail, &g_typeInfo);
        if (FAILED(hr)) {
            g_typeInfo = nullptr;
            *out = nullptr;
            return hr;
        }
    }
    *out = g_typeInfo;
    return S_OK;
}

void ModuleState::releaseTypeInfo()
{
    std::lock_guard<std::mutex> guard(g_lock);
    platform::releaseTypeInfo(g_typeInfo);
    g_typeInfo = nullptr;
}

void ModuleState::enter()
{
    g_lock.lock();
}

void ModuleState::leave()
{
    g_lock.unlock();
}

}  // namespace hanamail
