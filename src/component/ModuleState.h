#pragma once
#include <cstdint>

#include "platform/Automation.h"

namespace hanamail {

// What one module (the shared library or the DLL) keeps for its automation
// objects: the count of live objects and server locks, which says whether
// the module may be unloaded; the module's handle and file name; and the
// type information IDispatch is served from, loaded once per process.
class ModuleState {
public:
    static void objectCreated();
    static void objectDestroyed();
    static int32_t liveObjects();

    // IClassFactory::LockServer.
    static void lock(bool on);
    // Live objects plus locks: 0 when the module may be unloaded.
    static int32_t count();

    static void setModule(void* instance);
    static void* moduleHandle();

    // The type information of IHanamail from the registered library, loaded
    // on first use under the module lock and kept (no reference for the
    // caller). A failure to load is returned, and tried again next time.
    static HRESULT typeInfo(ITypeInfo** out);
    // At unload: drops the type information.
    static void releaseTypeInfo();

    // The module lock, also held for the first creation of the class factory.
    static void enter();
    static void leave();
};

// The identity of the type library.
extern const GUID LIBID_HanamailLib;
constexpr unsigned short kTypeLibMajor = 1;
constexpr unsigned short kTypeLibMinor = 0;
constexpr LCID kTypeLibLocale = 0x409;

}  // namespace hanamail
