#pragma once
// The part of the Windows registry a COM server writes: string values under
// HKEY_CLASSES_ROOT, and the removal of a key with its subtree. Only the
// Windows side has it (the COM server is built only there).
#include <string>

#include "platform/Automation.h"

namespace hanamail::platform {

// Creates the key (and any missing parents) and sets the named string value;
// a null name sets the default value. The result is an HRESULT.
HRESULT setClassesRootValue(const std::wstring& key, const wchar_t* name, const std::wstring& value);
// Creates the key with no values.
HRESULT createClassesRootKey(const std::wstring& key);
// Deletes the key with its subtree; a key that is not there is no failure.
HRESULT deleteClassesRootTree(const std::wstring& key);

// The full file name of a loaded module.
std::wstring moduleFileName(void* module);
// Turns off the thread attach and detach calls of a DLL's entry point.
void disableThreadNotifications(void* module);

}  // namespace hanamail::platform
