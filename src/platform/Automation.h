#pragma once
// The subset of the automation types (BSTR, VARIANT, SAFEARRAY, HRESULT,
// IUnknown/IDispatch) that the system uses. On Windows these are the real
// OLE Automation types; elsewhere a compatible implementation of our own.

#ifdef _WIN32
#include <windows.h>
// (after windows.h, which it needs)
#include <oleauto.h>
#else
#include "platform/posix/AutomationTypes.h"
#endif
