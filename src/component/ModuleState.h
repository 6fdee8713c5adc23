#pragma once
#include <cstdint>

namespace hanamail {

// The count of live automation objects in this module; the COM server asks
// it whether the module may be unloaded.
class ModuleState {
public:
    static void objectCreated();
    static void objectDestroyed();
    static int32_t liveObjects();
};

}  // namespace hanamail
