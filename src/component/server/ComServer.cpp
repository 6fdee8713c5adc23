// The in-process COM server: the DLL's entry point, the four standard
// exports and the registration of the class and its type library.
#include <new>
#include <string>

#include "component/Hanamail.h"
#include "component/ModuleState.h"
#include "component/server/ClassFactory.h"
#include "platform/ClassesRoot.h"
#include "platform/TypeLibrary.h"

namespace hanamail {

namespace {

// {6F1C2D3A-5B4E-4A7F-9C21-3E8D7B5A9F10}
const CLSID CLSID_Hanamail = {0x6F1C2D3A, 0x5B4E, 0x4A7F, {0x9C, 0x21, 0x3E, 0x8D, 0x7B, 0x5A, 0x9F, 0x10}};
const wchar_t kClsidText[] = L"{6F1C2D3A-5B4E-4A7F-9C21-3E8D7B5A9F10}";
const wchar_t kLibidText[] = L"{2A9E4C71-8D3B-4F06-A5C2-71B9E0D4C833}";
const wchar_t kClassName[] = L"Hanamail Class";
const wchar_t kProgId[] = L"Hanamail.Hanamail.1";
const wchar_t kIndependentProgId[] = L"Hanamail.Hanamail";

std::wstring classKey()
{
    return std::wstring(L"CLSID\\") + kClsidText;
}

// The keys the registration script describes, written directly. The
// registry holds the module's full path as it is.
HRESULT registerHanamail(const std::wstring& module)
{
    const std::wstring cls = classKey();
    // The class key is replaced whole: a stale subkey does not survive.
    HRESULT hr = platform::deleteClassesRootTree(cls);
    if (FAILED(hr)) return hr;
    struct Value {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    };
    const Value values[] = {
        {kProgId, nullptr, kClassName},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText},
        {kIndependentProgId, nullptr, kClassName},
        {std::wstring(kIndependentProgId) + L"\\CLSID", nullptr, kClsidText},
        {std::wstring(kIndependentProgId) + L"\\CurVer", nullptr, kProgId},
        {cls, nullptr, kClassName},
        {cls + L"\\ProgID", nullptr, kProgId},
        {cls + L"\\VersionIndependentProgID", nullptr, kIndependentProgId},
        {cls + L"\\InprocServer32", nullptr, module},
        {cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {cls + L"\\TypeLib", nullptr, kLibidText},
    };
    for (const Value& v : values) {
        hr = platform::setClassesRootValue(v.key, v.name, v.value);
        if (FAILED(hr)) return hr;
    }
    return platform::createClassesRootKey(cls + L"\\Programmable");
}

// Removes the two ProgID keys and the class key, never CLSID itself.
HRESULT unregisterHanamail(const std::wstring&)
{
    (void)platform::deleteClassesRootTree(kProgId);
    (void)platform::deleteClassesRootTree(kIndependentProgId);
    (void)platform::deleteClassesRootTree(classKey());
    return S_OK;
}

// The object map: the one creatable class.
struct ObjectMapEntry {
    const CLSID* clsid;
    HRESULT (*registerClass)(const std::wstring& module);
    HRESULT (*unregisterClass)(const std::wstring& module);
    ClassFactory::Creator create;
    ClassFactory* factory;
};

HRESULT createHanamail(IUnknown* outer, REFIID riid, void** ppv)
{
    return Hanamail::create(outer, riid, ppv);
}

ObjectMapEntry g_objectMap[] = {
    {&CLSID_Hanamail, &registerHanamail, &unregisterHanamail, &createHanamail, nullptr},
};

std::wstring moduleFile()
{
    return platform::moduleFileName(ModuleState::moduleHandle());
}

void moduleAttached(void* instance)
{
    ModuleState::setModule(instance);
    platform::disableThreadNotifications(instance);
}

void moduleDetached()
{
    for (ObjectMapEntry& entry : g_objectMap) {
        if (entry.factory) entry.factory->Release();
        entry.factory = nullptr;
    }
    ModuleState::releaseTypeInfo();
}

}  // namespace

}  // namespace hanamail

using hanamail::g_objectMap;
using hanamail::ModuleState;
using hanamail::ObjectMapEntry;

// The flat functions' email and mail manager are static objects: the
// runtime builds them just before this runs on attach and destroys them
// just after it runs on detach. Both happen under the loader lock, so
// nothing here or there starts sockets, loads a library or waits.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        hanamail::moduleAttached(instance);
    else if (reason == DLL_PROCESS_DETACH)
        hanamail::moduleDetached();
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return ModuleState::count() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (ObjectMapEntry& entry : g_objectMap) {
        if (!IsEqualGUID(rclsid, *entry.clsid)) continue;
        ModuleState::enter();
        if (!entry.factory) entry.factory = new (std::nothrow) hanamail::ClassFactory(entry.create);
        hanamail::ClassFactory* factory = entry.factory;
        ModuleState::leave();
        if (!factory) return E_OUTOFMEMORY;
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllRegisterServer()
{
    const std::wstring module = hanamail::moduleFile();
    for (ObjectMapEntry& entry : g_objectMap) {
        const HRESULT hr = entry.registerClass(module);
        if (FAILED(hr)) return hr;
    }
    return hanamail::platform::registerModuleTypeLibrary(module);
}

STDAPI DllUnregisterServer()
{
    const std::wstring module = hanamail::moduleFile();
    for (ObjectMapEntry& entry : g_objectMap) (void)entry.unregisterClass(module);
    (void)hanamail::platform::unregisterModuleTypeLibrary(module);
    return S_OK;
}
