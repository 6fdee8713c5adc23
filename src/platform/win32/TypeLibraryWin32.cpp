#include "platform/TypeLibrary.h"

namespace hanamail::platform {

namespace {

// The library in the module itself, else in the ".tlb" file beside it (the
// extension, from the last '.', replaced, or appended when there is none).
HRESULT loadModuleTypeLibrary(const std::wstring& modulePath, ITypeLib** lib, std::wstring& loadedFrom)
{
    *lib = nullptr;
    HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, lib);
    loadedFrom = modulePath;
    if (SUCCEEDED(hr)) return hr;
    std::wstring tlb = modulePath;
    const size_t dot = tlb.rfind(L'.');
    const size_t sep = tlb.find_last_of(L"\\/:");
    if (dot != std::wstring::npos && (sep == std::wstring::npos || dot > sep)) tlb.erase(dot);
    tlb += L".tlb";
    const HRESULT second = LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, lib);
    if (FAILED(second)) return hr;
    loadedFrom = tlb;
    return second;
}

// The path up to its last '\\', '/' or ':'.
std::wstring folderOf(const std::wstring& path)
{
    const size_t sep = path.find_last_of(L"\\/:");
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep);
}

}  // namespace

bool hasTypeLibraries()
{
    return true;
}

HRESULT loadRegisteredTypeInfo(const GUID& lib, unsigned short major, unsigned short minor, LCID locale, const IID& iid,
                               ITypeInfo** out)
{
    *out = nullptr;
    ITypeLib* typeLib = nullptr;
    HRESULT hr = LoadRegTypeLib(lib, major, minor, locale, &typeLib);
    if (FAILED(hr)) return hr;
    hr = typeLib->GetTypeInfoOfGuid(iid, out);
    typeLib->Release();
    return hr;
}

void releaseTypeInfo(ITypeInfo* info)
{
    if (info) info->Release();
}

void addRefTypeInfo(ITypeInfo* info)
{
    if (info) info->AddRef();
}

HRESULT typeInfoGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids)
{
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT typeInfoInvoke(ITypeInfo* info, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr)
{
    return info->Invoke(instance, id, flags, params, result, excepInfo, argErr);
}

HRESULT registerModuleTypeLibrary(const std::wstring& modulePath)
{
    ITypeLib* lib = nullptr;
    std::wstring path;
    HRESULT hr = loadModuleTypeLibrary(modulePath, &lib, path);
    if (FAILED(hr)) return hr;
    std::wstring helpDir = folderOf(path);
    hr = RegisterTypeLib(lib, const_cast<LPOLESTR>(path.c_str()), helpDir.empty() ? nullptr : &helpDir[0]);
    lib->Release();
    return hr;
}

HRESULT unregisterModuleTypeLibrary(const std::wstring& modulePath)
{
    using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    ITypeLib* lib = nullptr;
    std::wstring path;
    HRESULT hr = loadModuleTypeLibrary(modulePath, &lib, path);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
        // Looked up at run time: an automation library without it leaves the
        // registration in place.
        HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
        auto unregister =
            oleaut
                ? reinterpret_cast<UnRegisterFn>(reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")))
                : nullptr;
        if (unregister) hr = unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        lib->ReleaseTLibAttr(attr);
    }
    lib->Release();
    return hr;
}

}  // namespace hanamail::platform
