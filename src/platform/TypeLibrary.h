#pragma once
// Type information for IDispatch, read from a registered type library, and
// the registration of a type library carried by a module. Windows has both;
// elsewhere there are no type libraries: an object answers as one without
// type information and the calls give E_NOTIMPL.
#include <string>

#include "platform/Automation.h"

namespace hanamail::platform {

// Whether this platform serves IDispatch from type libraries at all.
bool hasTypeLibraries();

// The type information of interface iid in the registered library lib
// (version major.minor, registered for the given locale), with one
// reference for the caller.
HRESULT loadRegisteredTypeInfo(const GUID& lib, unsigned short major, unsigned short minor, LCID locale, const IID& iid,
                               ITypeInfo** out);
void releaseTypeInfo(ITypeInfo* info);
void addRefTypeInfo(ITypeInfo* info);

// IDispatch by the type information: names to DISPIDs, and a call through
// the vtable of instance (the interface the information describes).
HRESULT typeInfoGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT typeInfoInvoke(ITypeInfo* info, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr);

// Registers the type library in the module file (or, when the file holds
// none, in the file of the same path with the extension ".tlb"), with the
// file's folder as help directory.
HRESULT registerModuleTypeLibrary(const std::wstring& modulePath);
// Unregisters the library found the same way, by the identity it carries.
// Without the platform's unregister function nothing is done.
HRESULT unregisterModuleTypeLibrary(const std::wstring& modulePath);

}  // namespace hanamail::platform
