// The C++ declaration of IHanamail against the type library that
// Hanamail.dll carries: clients bound to the vtable call the slot the
// library names, so each function the library describes must sit at the
// slot of the C++ member of that name, with the same parameters.
#if defined(_WIN32) && defined(HANAMAIL_TLB_PATH)
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "component/IHanamail.h"

namespace hanamail {
namespace {

// A parameter as the library states it: its type, and whether it is
// passed by pointer.
struct Param {
    VARTYPE vt;
    bool byPointer;
    bool operator==(const Param& o) const { return vt == o.vt && byPointer == o.byPointer; }
};

template <typename T>
Param paramOf();
template <>
Param paramOf<BSTR>()
{
    return {VT_BSTR, false};
}
template <>
Param paramOf<BSTR*>()
{
    return {VT_BSTR, true};
}
template <>
Param paramOf<LONG*>()
{
    return {VT_I4, true};
}
template <>
Param paramOf<VARIANT>()
{
    return {VT_VARIANT, false};
}

struct Member {
    int slot;
    std::vector<Param> params;
};

// The vtable slot of a virtual member from its member pointer: the C++ ABI
// of MinGW's g++ stores one plus the byte offset of the slot.
template <typename... A>
Member memberOf(HRESULT (STDMETHODCALLTYPE IHanamail::*member)(A...))
{
    static_assert(sizeof member == 2 * sizeof(void*), "a virtual member pointer of the Itanium C++ ABI");
    std::ptrdiff_t raw = 0;
    std::memcpy(&raw, &member, sizeof raw);
    EXPECT_EQ(raw % static_cast<std::ptrdiff_t>(sizeof(void*)), 1) << "not a virtual member";
    return {static_cast<int>((raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*))), {paramOf<A>()...}};
}

#define HANAMAIL_MEMBER(name)             \
    {                                     \
#name, memberOf(&IHanamail::name) \
    }

std::map<std::string, Member> declaredMembers()
{
    return {
        HANAMAIL_MEMBER(get_SmtpHost),
        HANAMAIL_MEMBER(put_SmtpHost),
        HANAMAIL_MEMBER(get_SmtpLogin),
        HANAMAIL_MEMBER(put_SmtpLogin),
        HANAMAIL_MEMBER(get_SmtpPassword),
        HANAMAIL_MEMBER(put_SmtpPassword),
        HANAMAIL_MEMBER(SetHtmlBody),
        HANAMAIL_MEMBER(LoadHtmlComplete),
        HANAMAIL_MEMBER(SetPlainTextBody),
        HANAMAIL_MEMBER(AddHeaderField),
        HANAMAIL_MEMBER(AddRecipient),
        HANAMAIL_MEMBER(ExportToXML),
        HANAMAIL_MEMBER(ImportFromXML),
        HANAMAIL_MEMBER(AddFileAttachment),
        HANAMAIL_MEMBER(AddDataAttachment),
        HANAMAIL_MEMBER(ZipAttachments),
        HANAMAIL_MEMBER(ImportFromMime),
        HANAMAIL_MEMBER(ExportToMime),
        HANAMAIL_MEMBER(get_Charset),
        HANAMAIL_MEMBER(put_Charset),
        HANAMAIL_MEMBER(get_ErrorInfo),
        HANAMAIL_MEMBER(SendMail),
        HANAMAIL_MEMBER(ReadFile),
        HANAMAIL_MEMBER(WriteFile),
        HANAMAIL_MEMBER(AddStringAttachment),
        HANAMAIL_MEMBER(ExportToMimeFile),
    };
}

#undef HANAMAIL_MEMBER

std::string narrow(const BSTR text)
{
    std::string out;
    for (const OLECHAR* p = text; p && *p; ++p) out += static_cast<char>(*p);
    return out;
}

TEST(IHanamailTypeLibrary, EveryFunctionSitsAtTheSlotOfItsCppMember)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(L"" HANAMAIL_TLB_PATH, REGKIND_NONE, &lib), S_OK) << HANAMAIL_TLB_PATH;
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IHanamail, &dispatch), S_OK);
    // A dual interface: the vtable half is the one with slots.
    HREFTYPE ref = 0;
    ITypeInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);

    const std::map<std::string, Member> declared = declaredMembers();
    std::set<std::string> seen;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
        BSTR name = nullptr;
        UINT got = 0;
        ASSERT_EQ(info->GetNames(func->memid, &name, 1, &got), S_OK);
        std::string cppName = narrow(name);
        SysFreeString(name);
        if (func->invkind == INVOKE_PROPERTYGET) cppName = "get_" + cppName;
        if (func->invkind == INVOKE_PROPERTYPUT) cppName = "put_" + cppName;

        const auto it = declared.find(cppName);
        if (it == declared.end()) {
            ADD_FAILURE() << "the library has " << cppName << ", the C++ declaration has not";
        } else {
            seen.insert(cppName);
            EXPECT_EQ(func->oVft / static_cast<int>(sizeof(void*)), it->second.slot) << cppName;
            std::vector<Param> params;
            for (SHORT p = 0; p < func->cParams; ++p) {
                const TYPEDESC& t = func->lprgelemdescParam[p].tdesc;
                params.push_back(t.vt == VT_PTR ? Param{t.lptdesc->vt, true} : Param{t.vt, false});
            }
            EXPECT_TRUE(params == it->second.params) << cppName;
        }
        info->ReleaseFuncDesc(func);
    }
    EXPECT_EQ(seen.size(), declared.size());
    info->ReleaseTypeAttr(attr);
    info->Release();
    dispatch->Release();
    lib->Release();
}

}  // namespace
}  // namespace hanamail
#endif
