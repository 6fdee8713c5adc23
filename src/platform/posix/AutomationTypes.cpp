#include "platform/posix/AutomationTypes.h"

#include <cstdlib>
#include <cstring>

namespace hanamail {

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// The identities every automation client knows these interfaces by.
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {

// A BSTR points just past a 32-bit byte count; a NUL unit follows the text.
BSTR allocBytes(const void* src, uint32_t byteCount)
{
    if (byteCount > 0x7FFFFFF0u) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + byteCount + sizeof(OLECHAR) + 1));
    if (!block) return nullptr;
    std::memcpy(block, &byteCount, sizeof byteCount);
    unsigned char* data = block + sizeof(uint32_t);
    if (src)
        std::memcpy(data, src, byteCount);
    else
        std::memset(data, 0, byteCount);
    std::memset(data + byteCount, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(data);
}

ULONG elementSize(VARTYPE vt)
{
    switch (vt) {
        case VT_I1:
        case VT_UI1: return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL: return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR: return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE: return 8;
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN: return sizeof(void*);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text) return nullptr;
    uint32_t units = 0;
    while (text[units]) ++units;
    return SysAllocStringLen(text, units);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT units)
{
    if (units > 0x3FFFFFF0u) return nullptr;
    return allocBytes(text, units * static_cast<uint32_t>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteCount)
{
    return allocBytes(bytes, byteCount);
}

void SysFreeString(BSTR bstr)
{
    if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
}

UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr) return 0;
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t), sizeof n);
    return n;
}

UINT SysStringLen(BSTR bstr)
{
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v)
{
    if (v) {
        std::memset(v, 0, sizeof *v);
        v->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY)
            SafeArrayDestroy(v->parray);
        else if (v->vt == VT_BSTR)
            SysFreeString(v->bstrVal);
        else if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal)
            v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count)
{
    ULONG size = elementSize(vt);
    if (size == 0 || (count && size > 0x7FFFFFF0u / count)) return nullptr;
    auto* sa = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
    if (!sa) return nullptr;
    sa->cDims = 1;
    sa->cbElements = size;
    sa->rgsabound[0].cElements = count;
    sa->rgsabound[0].lLbound = lowerBound;
    switch (vt) {
        case VT_BSTR: sa->fFeatures = FADF_BSTR; break;
        case VT_DISPATCH: sa->fFeatures = FADF_DISPATCH; break;
        case VT_UNKNOWN: sa->fFeatures = FADF_UNKNOWN; break;
        case VT_VARIANT: sa->fFeatures = FADF_VARIANT; break;
        default: break;
    }
    sa->pvData = std::calloc(count ? count : 1, size);
    if (!sa->pvData) {
        std::free(sa);
        return nullptr;
    }
    return sa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* sa)
{
    if (!sa) return S_OK;
    ULONG count = sa->cDims ? sa->rgsabound[0].cElements : 0;
    if (sa->fFeatures & FADF_BSTR) {
        for (ULONG i = 0; i < count; ++i) SysFreeString(static_cast<BSTR*>(sa->pvData)[i]);
    } else if (sa->fFeatures & FADF_VARIANT) {
        for (ULONG i = 0; i < count; ++i) VariantClear(&static_cast<VARIANT*>(sa->pvData)[i]);
    } else if (sa->fFeatures & (FADF_DISPATCH | FADF_UNKNOWN)) {
        for (ULONG i = 0; i < count; ++i) {
            IUnknown* p = static_cast<IUnknown**>(sa->pvData)[i];
            if (p) p->Release();
        }
    }
    std::free(sa->pvData);
    std::free(sa);
    return S_OK;
}

}  // namespace hanamail
