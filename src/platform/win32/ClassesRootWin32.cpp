#include "platform/ClassesRoot.h"

namespace hanamail::platform {

HRESULT setClassesRootValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(handle);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT createClassesRootKey(const std::wstring& key)
{
    HKEY handle = nullptr;
    const LONG rc =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    RegCloseKey(handle);
    return S_OK;
}

HRESULT deleteClassesRootTree(const std::wstring& key)
{
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(rc);
}

std::wstring moduleFileName(void* module)
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(static_cast<HMODULE>(module), &name[0], static_cast<DWORD>(name.size()));
        if (got == 0) return std::wstring();
        if (got < name.size()) {
            name.resize(got);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

void disableThreadNotifications(void* module)
{
    DisableThreadLibraryCalls(static_cast<HMODULE>(module));
}

}  // namespace hanamail::platform
