#include "platform/TypeLibrary.h"

namespace hanamail::platform {

bool hasTypeLibraries()
{
    return false;
}

HRESULT loadRegisteredTypeInfo(const GUID&, unsigned short, unsigned short, LCID, const IID&, ITypeInfo** out)
{
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

void releaseTypeInfo(ITypeInfo*) {}

void addRefTypeInfo(ITypeInfo*) {}

HRESULT typeInfoGetIDsOfNames(ITypeInfo*, LPOLESTR*, UINT, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT typeInfoInvoke(ITypeInfo*, void*, DISPID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

HRESULT registerModuleTypeLibrary(const std::wstring&)
{
    return E_NOTIMPL;
}

HRESULT unregisterModuleTypeLibrary(const std::wstring&)
{
    return E_NOTIMPL;
}

}  // namespace hanamail::platform
