/* A C client of the registered Hanamail.dll: the entry points and the
   class factory, aggregation, the module count, QueryInterface and
   ISupportErrorInfo, IDispatch, the type library, vtable calls through
   hanamail_c.h, every member by an effect of its own, and
   AddDataAttachment with arrays and objects.

   com_client DLL FOLDER

   DLL is the registered file; FOLDER receives the files the members
   write, data.eml (the data attachments), mime.eml and errorinfo.txt
   (every ErrorInfo text read).
   Needs nothing listening on 127.0.0.1:25: a send there must be refused.
   Prints one line per check and "com_client done N failures" last. */
#include <wchar.h>

#include <ocidl.h>

#include "hanamail_c.h"

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* CanUnloadFn)(void);

static GetClassObjectFn pDllGetClassObject;
static CanUnloadFn pDllCanUnloadNow;
static wchar_t g_folder[MAX_PATH];

static const GUID kSomeOtherClsid = {0x12345678, 0x1234, 0x5678, {0x90, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67}};

static void checkHr(HRESULT got, HRESULT want, const char* name)
{
    char details[96];
    snprintf(details, sizeof details, "got 0x%08lx, want 0x%08lx", (unsigned long)got, (unsigned long)want);
    check(got == want, name, details);
}

static void folderPath(wchar_t* out, size_t size, const wchar_t* file)
{
    swprintf(out, size, L"%ls\\%ls", g_folder, file);
}

static BSTR B(const wchar_t* text)
{
    return SysAllocString(text);
}

/* Calls that take BSTRs: each argument is made and freed around the call. */
static HRESULT call1(HRESULT(STDMETHODCALLTYPE* fn)(HanamailC*, BSTR), HanamailC* h, const wchar_t* a)
{
    BSTR x = B(a);
    const HRESULT hr = fn(h, x);
    SysFreeString(x);
    return hr;
}

static HRESULT addRecipient(HanamailC* h, const wchar_t* type, const wchar_t* name, const wchar_t* addr)
{
    BSTR t = B(type), n = B(name), a = B(addr);
    const HRESULT hr = h->lpVtbl->AddRecipient(h, t, n, a);
    SysFreeString(t);
    SysFreeString(n);
    SysFreeString(a);
    return hr;
}

static HRESULT addHeader(HanamailC* h, const wchar_t* name, const wchar_t* value)
{
    BSTR n = B(name), v = B(value);
    const HRESULT hr = h->lpVtbl->AddHeaderField(h, n, v);
    SysFreeString(n);
    SysFreeString(v);
    return hr;
}

/* The ErrorInfo text (a new BSTR), also appended to errorinfo.txt. */
static BSTR errorInfo(HanamailC* h)
{
    BSTR text = NULL;
    if (FAILED(h->lpVtbl->get_ErrorInfo(h, &text))) return NULL;
    wchar_t path[MAX_PATH * 2];
    folderPath(path, MAX_PATH * 2, L"errorinfo.txt");
    appendUtf8(path, text ? text : L"", SysStringLen(text));
    appendUtf8(path, L"\n----\n", 6);
    return text;
}

static int contains(BSTR text, const wchar_t* part)
{
    return text && wcsstr(text, part) != NULL;
}

static HanamailC* newObject(void)
{
    HanamailC* h = NULL;
    const HRESULT hr = CoCreateInstance(&kClsidHanamail, NULL, CLSCTX_INPROC_SERVER, &kIidHanamail, (void**)&h);
    checkHr(hr, S_OK, "cocreate");
    return SUCCEEDED(hr) ? h : NULL;
}

/* ------------------------------------------------------------ outer object */

/* An outer unknown that aggregates the object and counts what reaches it. */
typedef struct Outer {
    IUnknown iface;
    LONG refs;
    IUnknown* inner;
    LONG queries, addRefs, releases;
} Outer;

static HRESULT STDMETHODCALLTYPE outerQueryInterface(IUnknown* self, REFIID riid, void** ppv)
{
    Outer* o = (Outer*)self;
    ++o->queries;
    if (IsEqualIID(riid, &IID_IUnknown)) {
        *ppv = self;
        ++o->refs;
        return S_OK;
    }
    if (!o->inner) {
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    return o->inner->lpVtbl->QueryInterface(o->inner, riid, ppv);
}

static ULONG STDMETHODCALLTYPE outerAddRef(IUnknown* self)
{
    Outer* o = (Outer*)self;
    ++o->addRefs;
    return (ULONG)++o->refs;
}

static ULONG STDMETHODCALLTYPE outerRelease(IUnknown* self)
{
    Outer* o = (Outer*)self;
    ++o->releases;
    return (ULONG)--o->refs;
}

static IUnknownVtbl kOuterVtbl = {outerQueryInterface, outerAddRef, outerRelease};

/* ------------------------------------------------------------ factory */

static void checkEntryPoints(void)
{
    IClassFactory* factory = (IClassFactory*)(ULONG_PTR)1;
    checkHr(pDllGetClassObject(&kSomeOtherClsid, &IID_IClassFactory, (void**)&factory), CLASS_E_CLASSNOTAVAILABLE,
            "getclassobject_unknown_clsid");
    check(factory == NULL, "getclassobject_unknown_clsid_cleared", "the out pointer was left set");
    checkHr(pDllGetClassObject(&kClsidHanamail, &IID_IClassFactory, NULL), E_POINTER, "getclassobject_null_out");
    void* p = (void*)(ULONG_PTR)1;
    checkHr(pDllGetClassObject(&kClsidHanamail, &IID_IDispatch, &p), E_NOINTERFACE, "getclassobject_wrong_iid");
    check(p == NULL, "getclassobject_wrong_iid_cleared", "the out pointer was left set");

    checkHr(pDllCanUnloadNow(), S_OK, "canunload_at_start");
    factory = NULL;
    checkHr(pDllGetClassObject(&kClsidHanamail, &IID_IClassFactory, (void**)&factory), S_OK, "getclassobject");
    if (!factory) return;
    IClassFactory* again = NULL;
    pDllGetClassObject(&kClsidHanamail, &IID_IUnknown, (void**)&again);
    check(again == factory, "factory_made_once", "a second request gave another factory");
    if (again) again->lpVtbl->Release(again);

    checkHr(factory->lpVtbl->CreateInstance(factory, NULL, &kIidHanamail, NULL), E_POINTER, "create_null_out");
    Outer outer = {{&kOuterVtbl}, 1, NULL, 0, 0, 0};
    p = (void*)(ULONG_PTR)1;
    checkHr(factory->lpVtbl->CreateInstance(factory, &outer.iface, &IID_IDispatch, &p), CLASS_E_NOAGGREGATION,
            "create_aggregated_dispatch");
    check(p == NULL, "create_aggregated_dispatch_cleared", "the out pointer was left set");
    p = (void*)(ULONG_PTR)1;
    checkHr(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IClassFactory, &p), E_NOINTERFACE,
            "create_unknown_iid");
    check(p == NULL, "create_unknown_iid_cleared", "the out pointer was left set");
    checkHr(pDllCanUnloadNow(), S_OK, "create_unknown_iid_destroyed");

    /* The module count: objects and locks, in either order. */
    HanamailC* h = NULL;
    checkHr(factory->lpVtbl->CreateInstance(factory, NULL, &kIidHanamail, (void**)&h), S_OK, "create");
    checkHr(pDllCanUnloadNow(), S_FALSE, "canunload_with_object");
    if (h) h->lpVtbl->Release(h);
    checkHr(pDllCanUnloadNow(), S_OK, "canunload_after_object");
    checkHr(factory->lpVtbl->LockServer(factory, TRUE), S_OK, "lockserver");
    checkHr(pDllCanUnloadNow(), S_FALSE, "canunload_with_lock");
    h = NULL;
    factory->lpVtbl->CreateInstance(factory, NULL, &kIidHanamail, (void**)&h);
    factory->lpVtbl->LockServer(factory, FALSE);
    checkHr(pDllCanUnloadNow(), S_FALSE, "canunload_object_after_unlock");
    if (h) h->lpVtbl->Release(h);
    checkHr(pDllCanUnloadNow(), S_OK, "canunload_after_both");

    /* Aggregated: the inner unknown is the object's own; every interface it
       hands out goes to the outer one for AddRef, Release and QueryInterface. */
    IUnknown* inner = NULL;
    checkHr(factory->lpVtbl->CreateInstance(factory, &outer.iface, &IID_IUnknown, (void**)&inner), S_OK,
            "create_aggregated");
    if (inner) {
        outer.inner = inner;
        IUnknown* self = NULL;
        inner->lpVtbl->QueryInterface(inner, &IID_IUnknown, (void**)&self);
        check(self == inner, "aggregated_inner_identity", "the inner unknown answered IUnknown with another pointer");
        if (self) self->lpVtbl->Release(self);

        const LONG refs0 = outer.refs;
        h = NULL;
        checkHr(inner->lpVtbl->QueryInterface(inner, &kIidHanamail, (void**)&h), S_OK, "aggregated_query");
        check(outer.refs == refs0 + 1, "aggregated_query_addrefs_outer", "the interface did not hold the outer");
        if (h) {
            const LONG a = outer.addRefs, r = outer.releases, q = outer.queries;
            h->lpVtbl->AddRef(h);
            check(outer.addRefs == a + 1, "aggregated_addref_forwarded", "AddRef did not reach the outer unknown");
            h->lpVtbl->Release(h);
            check(outer.releases == r + 1, "aggregated_release_forwarded", "Release did not reach the outer");
            IUnknown* viaItf = NULL;
            h->lpVtbl->QueryInterface(h, &IID_IUnknown, (void**)&viaItf);
            check(outer.queries == q + 1 && viaItf == &outer.iface, "aggregated_query_forwarded",
                  "QueryInterface of IHanamail did not answer with the outer unknown");
            if (viaItf) viaItf->lpVtbl->Release(viaItf);
            ISupportErrorInfo* sei = NULL;
            checkHr(h->lpVtbl->QueryInterface(h, &IID_ISupportErrorInfo, (void**)&sei), S_OK,
                    "aggregated_query_errorinfo");
            if (sei) sei->lpVtbl->Release(sei);
            /* Still an object of its own. */
            call1(h->lpVtbl->put_SmtpHost, h, L"aggregated.example.com");
            BSTR host = NULL;
            h->lpVtbl->get_SmtpHost(h, &host);
            check(host && wcscmp(host, L"aggregated.example.com") == 0, "aggregated_member_call", "wrong host");
            SysFreeString(host);
            h->lpVtbl->Release(h);
        }
        check(outer.refs == refs0, "aggregated_outer_balanced", "the outer's count did not come back");
        checkHr(pDllCanUnloadNow(), S_FALSE, "canunload_with_aggregated");
        const ULONG left = inner->lpVtbl->Release(inner);
        check(left == 0, "aggregated_inner_release", "the inner unknown kept references");
        outer.inner = NULL;
        checkHr(pDllCanUnloadNow(), S_OK, "canunload_after_aggregated");
    }
    factory->lpVtbl->Release(factory);
}

/* ------------------------------------------------------------ interfaces */

static void checkInterfaces(HanamailC* h)
{
    static const struct {
        const IID* iid;
        const char* name;
        HRESULT want;
    } kQueries[] = {
        {&IID_IUnknown, "query_iunknown", S_OK},
        {&IID_IDispatch, "query_idispatch", S_OK},
        {&kIidHanamail, "query_ihanamail", S_OK},
        {&IID_ISupportErrorInfo, "query_isupporterrorinfo", S_OK},
        {&IID_IClassFactory, "query_iclassfactory", E_NOINTERFACE},
        {&IID_IPersist, "query_ipersist", E_NOINTERFACE},
        {&IID_IProvideClassInfo, "query_iprovideclassinfo", E_NOINTERFACE},
        {&IID_IPersistStreamInit, "query_ipersiststreaminit", E_NOINTERFACE},
        {&kSomeOtherClsid, "query_unknown_iid", E_NOINTERFACE},
    };
    IUnknown* identity = NULL;
    h->lpVtbl->QueryInterface(h, &IID_IUnknown, (void**)&identity);
    for (size_t i = 0; i < sizeof kQueries / sizeof kQueries[0]; ++i) {
        IUnknown* itf = (IUnknown*)(ULONG_PTR)1;
        checkHr(h->lpVtbl->QueryInterface(h, kQueries[i].iid, (void**)&itf), kQueries[i].want, kQueries[i].name);
        if (kQueries[i].want != S_OK) {
            check(itf == NULL, kQueries[i].name, "the out pointer was left set");
            continue;
        }
        /* Every interface leads back to one identity. */
        IUnknown* back = NULL;
        itf->lpVtbl->QueryInterface(itf, &IID_IUnknown, (void**)&back);
        check(back == identity && identity != NULL, kQueries[i].name, "another IUnknown behind this interface");
        if (back) back->lpVtbl->Release(back);
        itf->lpVtbl->Release(itf);
    }
    checkHr(h->lpVtbl->QueryInterface(h, &IID_IDispatch, NULL), E_POINTER, "query_null_out");
    if (identity) identity->lpVtbl->Release(identity);

    ISupportErrorInfo* sei = NULL;
    h->lpVtbl->QueryInterface(h, &IID_ISupportErrorInfo, (void**)&sei);
    if (!sei) return;
    checkHr(sei->lpVtbl->InterfaceSupportsErrorInfo(sei, &kIidHanamail), S_OK, "errorinfo_ihanamail");
    checkHr(sei->lpVtbl->InterfaceSupportsErrorInfo(sei, &IID_IDispatch), S_FALSE, "errorinfo_idispatch");
    checkHr(sei->lpVtbl->InterfaceSupportsErrorInfo(sei, &IID_IUnknown), S_FALSE, "errorinfo_iunknown");
    checkHr(sei->lpVtbl->InterfaceSupportsErrorInfo(sei, &kSomeOtherClsid), S_FALSE, "errorinfo_other");
    sei->lpVtbl->Release(sei);
}

/* ------------------------------------------------------------ members */

/* The members as clients were promised them, in vtable order from slot 7:
   DISPID, kind, name and parameters ("[flags] type name"; a property put
   has one unnamed parameter). */
typedef struct Member {
    MEMBERID id;
    INVOKEKIND kind;
    const wchar_t* name;
    const char* params;
} Member;

#define GET INVOKE_PROPERTYGET
#define PUT INVOKE_PROPERTYPUT
#define FUNC INVOKE_FUNC

static const Member kMembers[] = {
    {1, GET, L"SmtpHost", "[out,retval] BSTR* pVal"},
    {1, PUT, L"SmtpHost", "[in] BSTR"},
    {2, GET, L"SmtpLogin", "[out,retval] BSTR* pVal"},
    {2, PUT, L"SmtpLogin", "[in] BSTR"},
    {3, GET, L"SmtpPassword", "[out,retval] BSTR* pVal"},
    {3, PUT, L"SmtpPassword", "[in] BSTR"},
    {4, FUNC, L"SetHtmlBody", "[in] BSTR htmlString"},
    {5, FUNC, L"LoadHtmlComplete", "[in] BSTR htmlFilenameOrUrl, [out,retval] long* success"},
    {6, FUNC, L"SetPlainTextBody", "[in] BSTR bodyText"},
    {7, FUNC, L"AddHeaderField", "[in] BSTR fieldName, [in] BSTR fieldValue"},
    {8, FUNC, L"AddRecipient", "[in] BSTR recipientType, [in] BSTR recipientName, [in] BSTR recipientAddr"},
    {9, FUNC, L"ExportToXML", "[out,retval] BSTR* xml"},
    {10, FUNC, L"ImportFromXML", "[in] BSTR xml"},
    {11, FUNC, L"AddFileAttachment", "[in] BSTR filename, [out,retval] long* success"},
    {12, FUNC, L"AddDataAttachment", "[in] BSTR filename, [in] VARIANT data"},
    {13, FUNC, L"ZipAttachments", "[in] BSTR zipFilename"},
    {17, FUNC, L"ImportFromMime", "[in] BSTR mimeText"},
    {18, FUNC, L"ExportToMime", "[out,retval] BSTR* mimeText"},
    {19, GET, L"Charset", "[out,retval] BSTR* pVal"},
    {19, PUT, L"Charset", "[in] BSTR"},
    {20, GET, L"ErrorInfo", "[out,retval] BSTR* pVal"},
    {21, FUNC, L"SendMail", "[out,retval] long* success"},
    {23, FUNC, L"ReadFile", "[in] BSTR filename, [in] BSTR Charset, [out,retval] BSTR* contents"},
    {24, FUNC, L"WriteFile", "[in] BSTR filename, [in] BSTR Charset, [in] BSTR contents, [out,retval] long* success"},
    {25, FUNC, L"AddStringAttachment", "[in] BSTR filename, [in] BSTR str"},
    {26, FUNC, L"ExportToMimeFile", "[in] BSTR filename"},
};
enum { kMemberCount = sizeof kMembers / sizeof kMembers[0], kFirstSlot = 7 };

/* The parameter names of a member's entry, in order. */
static int paramNames(const Member* m, wchar_t names[][32], int max)
{
    int n = 0;
    const char* p = m->params;
    while (*p && n < max) {
        const char* end = strstr(p, ", [");
        if (!end) end = p + strlen(p);
        const char* close = strchr(p, ']');
        const char* last = NULL;
        for (const char* c = close; c && c < end; ++c)
            if (*c == ' ') last = c;
        if (last && last != close + 1) {
            int k = 0;
            for (const char* c = last + 1; c < end && k < 31; ++c) names[n][k++] = (wchar_t)*c;
            names[n++][k] = 0;
        }
        p = *end ? end + 2 : end;
    }
    return n;
}

static void describeType(const TYPEDESC* t, char* out, size_t size)
{
    switch (t->vt) {
        case VT_PTR: {
            char inner[64];
            describeType(t->lptdesc, inner, sizeof inner);
            snprintf(out, size, "%s*", inner);
            return;
        }
        case VT_BSTR: snprintf(out, size, "BSTR"); return;
        case VT_I4: snprintf(out, size, "long"); return;
        case VT_VARIANT: snprintf(out, size, "VARIANT"); return;
        default: snprintf(out, size, "vt%d", t->vt); return;
    }
}

/* A function of the type information in the form of kMembers' params. */
static void describeParams(ITypeInfo* info, const FUNCDESC* f, char* out, size_t size)
{
    BSTR names[16] = {0};
    UINT count = 0;
    if (f->invkind != INVOKE_PROPERTYPUT) info->lpVtbl->GetNames(info, f->memid, names, 16, &count);
    out[0] = 0;
    for (SHORT i = 0; i < f->cParams; ++i) {
        const ELEMDESC* e = &f->lprgelemdescParam[i];
        const USHORT fl = e->paramdesc.wParamFlags;
        char flags[32] = "", type[64];
        if (fl & PARAMFLAG_FIN) strcat(flags, "in");
        if (fl & PARAMFLAG_FOUT) strcat(flags, flags[0] ? ",out" : "out");
        if (fl & PARAMFLAG_FRETVAL) strcat(flags, flags[0] ? ",retval" : "retval");
        describeType(&e->tdesc, type, sizeof type);
        char one[160];
        if ((UINT)i + 1 < count && names[i + 1])
            snprintf(one, sizeof one, "[%s] %s %ls", flags, type, names[i + 1]);
        else
            snprintf(one, sizeof one, "[%s] %s", flags, type);
        if (i) strncat(out, ", ", size - strlen(out) - 1);
        strncat(out, one, size - strlen(out) - 1);
    }
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
}

static const wchar_t* kindWord(INVOKEKIND kind)
{
    return kind == INVOKE_FUNC ? L"method" : L"property";
}

/* The type library as registered: its two types, their flags and help
   strings, and every function of the interface. */
/* The help string of a type (its documentation at MEMBERID_NIL). */
static void checkTypeHelp(ITypeInfo* info, const wchar_t* want, const char* name)
{
    char details[256];
    BSTR doc = NULL;
    info->lpVtbl->GetDocumentation(info, MEMBERID_NIL, NULL, &doc, NULL, NULL);
    snprintf(details, sizeof details, "%ls", doc ? doc : L"(none)");
    check(doc && wcscmp(doc, want) == 0, name, details);
    SysFreeString(doc);
}

static void checkTypeLibrary(void)
{
    char name[96], details[512];
    ITypeLib* lib = NULL;
    checkHr(LoadRegTypeLib(&kLibidHanamail, 1, 0, 0x409, &lib), S_OK, "typelib_load");
    if (!lib) return;
    TLIBATTR* la = NULL;
    lib->lpVtbl->GetLibAttr(lib, &la);
    if (la) {
        snprintf(details, sizeof details, "lcid 0x%lx version %u.%u syskind %d", (unsigned long)la->lcid,
                 la->wMajorVerNum, la->wMinorVerNum, la->syskind);
        check(IsEqualGUID(&la->guid, &kLibidHanamail) && la->lcid == 0x409 && la->wMajorVerNum == 1 &&
                  la->wMinorVerNum == 0 && la->syskind == SYS_WIN64,
              "typelib_attributes", details);
        lib->lpVtbl->ReleaseTLibAttr(lib, la);
    }
    BSTR libName = NULL, libDoc = NULL;
    lib->lpVtbl->GetDocumentation(lib, -1, &libName, &libDoc, NULL, NULL);
    snprintf(details, sizeof details, "%ls: %ls", libName ? libName : L"(none)", libDoc ? libDoc : L"(none)");
    check(libName && wcscmp(libName, L"HanamailLib") == 0 && libDoc &&
              wcscmp(libDoc, L"Tembrix Hanamail Email ActiveX 2.0") == 0,
          "typelib_help", details);
    SysFreeString(libName);
    SysFreeString(libDoc);

    const UINT types = lib->lpVtbl->GetTypeInfoCount(lib);
    int sawInterface = 0, sawClass = 0;
    for (UINT i = 0; i < types; ++i) {
        TYPEKIND kind;
        BSTR typeName = NULL;
        lib->lpVtbl->GetTypeInfoType(lib, i, &kind);
        lib->lpVtbl->GetDocumentation(lib, (INT)i, &typeName, NULL, NULL, NULL);
        if (typeName && wcscmp(typeName, L"IHanamail") == 0 && (kind == TKIND_DISPATCH || kind == TKIND_INTERFACE))
            ++sawInterface;
        if (typeName && wcscmp(typeName, L"Hanamail") == 0 && kind == TKIND_COCLASS) ++sawClass;
        SysFreeString(typeName);
    }
    snprintf(details, sizeof details, "%u types", types);
    check(types == 2 && sawInterface == 1 && sawClass == 1, "typelib_two_types", details);

    /* The class: creatable, IHanamail its default interface. */
    ITypeInfo* cls = NULL;
    checkHr(lib->lpVtbl->GetTypeInfoOfGuid(lib, &kClsidHanamail, &cls), S_OK, "typelib_coclass");
    if (cls) {
        TYPEATTR* ta = NULL;
        cls->lpVtbl->GetTypeAttr(cls, &ta);
        INT implFlags = 0;
        HREFTYPE ref = 0;
        ITypeInfo* def = NULL;
        TYPEATTR* da = NULL;
        cls->lpVtbl->GetImplTypeFlags(cls, 0, &implFlags);
        if (SUCCEEDED(cls->lpVtbl->GetRefTypeOfImplType(cls, 0, &ref)) &&
            SUCCEEDED(cls->lpVtbl->GetRefTypeInfo(cls, ref, &def)))
            def->lpVtbl->GetTypeAttr(def, &da);
        snprintf(details, sizeof details, "kind %d flags 0x%x impl types %d impl flags 0x%x",
                 ta ? (int)ta->typekind : -1, ta ? ta->wTypeFlags : 0, ta ? ta->cImplTypes : -1, implFlags);
        check(ta && ta->typekind == TKIND_COCLASS && (ta->wTypeFlags & TYPEFLAG_FCANCREATE) && ta->cImplTypes == 1 &&
                  (implFlags & IMPLTYPEFLAG_FDEFAULT) && da && IsEqualGUID(&da->guid, &kIidHanamail),
              "typelib_coclass_default_interface", details);
        if (da) def->lpVtbl->ReleaseTypeAttr(def, da);
        if (def) def->lpVtbl->Release(def);
        if (ta) cls->lpVtbl->ReleaseTypeAttr(cls, ta);
        checkTypeHelp(cls, L"Hanamail Class", "typelib_coclass_help");
        cls->lpVtbl->Release(cls);
    }

    /* The interface, as dispatch information: dual, dispatchable, not extensible. */
    ITypeInfo* disp = NULL;
    checkHr(lib->lpVtbl->GetTypeInfoOfGuid(lib, &kIidHanamail, &disp), S_OK, "typelib_interface");
    lib->lpVtbl->Release(lib);
    if (!disp) return;
    TYPEATTR* ta = NULL;
    disp->lpVtbl->GetTypeAttr(disp, &ta);
    const WORD want = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE;
    snprintf(details, sizeof details, "kind %d flags 0x%x", ta ? (int)ta->typekind : -1, ta ? ta->wTypeFlags : 0);
    check(ta && ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & want) == want, "typelib_interface_flags", details);
    if (ta) disp->lpVtbl->ReleaseTypeAttr(disp, ta);
    checkTypeHelp(disp, L"IHanamail Interface", "typelib_interface_help");

    /* The vtable half of the dual interface: the members in slot order. */
    HREFTYPE ref = 0;
    ITypeInfo* itf = NULL;
    if (FAILED(disp->lpVtbl->GetRefTypeOfImplType(disp, -1, &ref)) ||
        FAILED(disp->lpVtbl->GetRefTypeInfo(disp, ref, &itf))) {
        check(0, "typelib_vtable_interface", "no interface half of the dual interface");
        disp->lpVtbl->Release(disp);
        return;
    }
    ta = NULL;
    itf->lpVtbl->GetTypeAttr(itf, &ta);
    snprintf(details, sizeof details, "kind %d, %d functions, vtable %d bytes", ta ? (int)ta->typekind : -1,
             ta ? ta->cFuncs : -1, ta ? ta->cbSizeVft : -1);
    check(ta && ta->typekind == TKIND_INTERFACE && ta->cFuncs == kMemberCount &&
              ta->cbSizeVft == (kFirstSlot + kMemberCount) * (int)sizeof(void*),
          "typelib_function_count", details);
    const int funcs = ta ? ta->cFuncs : 0;
    if (ta) itf->lpVtbl->ReleaseTypeAttr(itf, ta);
    for (int i = 0; i < kMemberCount; ++i) {
        const Member* m = &kMembers[i];
        snprintf(name, sizeof name, "typelib_%s%ls", m->kind == GET ? "get_" : m->kind == PUT ? "put_" : "", m->name);
        FUNCDESC* f = NULL;
        if (i >= funcs || FAILED(itf->lpVtbl->GetFuncDesc(itf, (UINT)i, &f))) {
            check(0, name, "no function at this index");
            continue;
        }
        char params[400];
        describeParams(itf, f, params, sizeof params);
        BSTR fname = NULL, fdoc = NULL;
        itf->lpVtbl->GetDocumentation(itf, f->memid, &fname, &fdoc, NULL, NULL);
        wchar_t help[64];
        swprintf(help, 64, L"%ls %ls", kindWord(m->kind), m->name);
        snprintf(details, sizeof details, "dispid %ld kind %d slot %d %ls(%s) \"%ls\" returns vt%d", (long)f->memid,
                 f->invkind, (int)(f->oVft / (SHORT)sizeof(void*)), fname ? fname : L"?", params,
                 fdoc ? fdoc : L"(none)", f->elemdescFunc.tdesc.vt);
        check(f->memid == m->id && f->invkind == m->kind && f->oVft == (kFirstSlot + i) * (int)sizeof(void*) &&
                  f->funckind == FUNC_PUREVIRTUAL && f->callconv == CC_STDCALL &&
                  f->elemdescFunc.tdesc.vt == VT_HRESULT && fname && wcscmp(fname, m->name) == 0 &&
                  strcmp(params, m->params) == 0 && fdoc && wcscmp(fdoc, help) == 0,
              name, details);
        SysFreeString(fname);
        SysFreeString(fdoc);
        itf->lpVtbl->ReleaseFuncDesc(itf, f);
    }
    itf->lpVtbl->Release(itf);
    disp->lpVtbl->Release(disp);
}

/* ------------------------------------------------------------ IDispatch */

static void checkDispatch(HanamailC* h)
{
    char name[96], details[256];
    UINT count = 0;
    checkHr(h->lpVtbl->GetTypeInfoCount(h, &count), S_OK, "dispatch_typeinfo_count_hr");
    check(count == 1, "dispatch_typeinfo_count", "not 1");
    ITypeInfo* info = NULL;
    checkHr(h->lpVtbl->GetTypeInfo(h, 0, 0x409, &info), S_OK, "dispatch_typeinfo");
    if (info) info->lpVtbl->Release(info);
    info = (ITypeInfo*)(ULONG_PTR)1;
    checkHr(h->lpVtbl->GetTypeInfo(h, 1, 0x409, &info), DISP_E_BADINDEX, "dispatch_typeinfo_bad_index");

    /* Every member name, and with it each of its parameter names. */
    for (int i = 0; i < kMemberCount; ++i) {
        const Member* m = &kMembers[i];
        if (m->kind == PUT) continue;
        wchar_t names[8][32];
        LPOLESTR list[9];
        DISPID ids[9];
        const int n = paramNames(m, names, 8);
        list[0] = (LPOLESTR)m->name;
        for (int k = 0; k < n; ++k) list[k + 1] = names[k];
        for (int k = 0; k <= n; ++k) ids[k] = -7;
        const HRESULT hr = h->lpVtbl->GetIDsOfNames(h, &IID_NULL, list, (UINT)(n + 1), 0x409, ids);
        int ok = hr == S_OK && ids[0] == m->id;
        for (int k = 0; k < n; ++k) ok = ok && ids[k + 1] == k;
        snprintf(details, sizeof details, "hr 0x%08lx ids %ld %ld %ld %ld %ld", (unsigned long)hr, (long)ids[0],
                 (long)(n > 0 ? ids[1] : 0), (long)(n > 1 ? ids[2] : 0), (long)(n > 2 ? ids[3] : 0),
                 (long)(n > 3 ? ids[4] : 0));
        snprintf(name, sizeof name, "names_%ls", m->name);
        check(ok, name, details);
    }
    LPOLESTR lower[] = {L"smtphost"};
    DISPID id = 0;
    h->lpVtbl->GetIDsOfNames(h, &IID_NULL, lower, 1, 0x409, &id);
    check(id == 1, "names_ignore_case", "smtphost is not DISPID 1");
    LPOLESTR unknown[] = {L"SendMessage"};
    id = 0;
    checkHr(h->lpVtbl->GetIDsOfNames(h, &IID_NULL, unknown, 1, 0x409, &id), DISP_E_UNKNOWNNAME, "names_unknown");
    check(id == DISPID_UNKNOWN, "names_unknown_id", "not DISPID_UNKNOWN");

    /* Invoke: the unused DISPIDs are no members. */
    static const DISPID kUnused[] = {14, 15, 16, 22, 27};
    DISPPARAMS none = {NULL, NULL, 0, 0};
    VARIANT result;
    for (size_t i = 0; i < sizeof kUnused / sizeof kUnused[0]; ++i) {
        VariantInit(&result);
        snprintf(name, sizeof name, "invoke_dispid_%ld", (long)kUnused[i]);
        checkHr(h->lpVtbl->Invoke(h, kUnused[i], &IID_NULL, 0x409, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                  &result, NULL, NULL),
                DISP_E_MEMBERNOTFOUND, name);
        VariantClear(&result);
    }
    checkHr(h->lpVtbl->Invoke(h, 20, &kIidHanamail, 0x409, DISPATCH_PROPERTYGET, &none, &result, NULL, NULL),
            DISP_E_UNKNOWNINTERFACE, "invoke_wrong_riid");

    /* A property put and get, and a method with arguments, by DISPID. */
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = B(L"dispatch.example.com");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&arg, &named, 1, 1};
    checkHr(h->lpVtbl->Invoke(h, 1, &IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &put, NULL, NULL, NULL), S_OK,
            "invoke_put_smtphost");
    VariantClear(&arg);
    VariantInit(&result);
    checkHr(h->lpVtbl->Invoke(h, 1, &IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, NULL, NULL), S_OK,
            "invoke_get_smtphost_hr");
    check(result.vt == VT_BSTR && wcscmp(result.bstrVal, L"dispatch.example.com") == 0, "invoke_get_smtphost",
          "another value came back");
    VariantClear(&result);
    VARIANT args[3];
    for (int i = 0; i < 3; ++i) VariantInit(&args[i]), args[i].vt = VT_BSTR;
    args[2].bstrVal = B(L"to"); /* arguments go last to first */
    args[1].bstrVal = B(L"Disp Atch");
    args[0].bstrVal = B(L"disp@example.com");
    DISPPARAMS three = {args, NULL, 3, 0};
    checkHr(h->lpVtbl->Invoke(h, 8, &IID_NULL, 0x409, DISPATCH_METHOD, &three, NULL, NULL, NULL), S_OK,
            "invoke_addrecipient");
    for (int i = 0; i < 3; ++i) VariantClear(&args[i]);
    VariantInit(&result);
    h->lpVtbl->Invoke(h, 18, &IID_NULL, 0x409, DISPATCH_METHOD, &none, &result, NULL, NULL);
    check(result.vt == VT_BSTR && contains(result.bstrVal, L"disp@example.com"), "invoke_exporttomime",
          "the MIME text has no recipient");
    VariantClear(&result);
}

/* ------------------------------------------------------------ vtable */

/* The first line of the mail manager's log of a send. */
static const wchar_t kSendLog[] = L"Connecting to SMTP server";

static void checkVtable(HanamailC* h)
{
    char details[256];
    BSTR text = NULL, before = NULL;
    /* Which log ErrorInfo shows follows the flag of the last flagged call. */
    call1(h->lpVtbl->put_SmtpHost, h, L"127.0.0.1");
    call1(h->lpVtbl->put_SmtpLogin, h, L"vtable-user");
    call1(h->lpVtbl->put_SmtpPassword, h, L"Vt4ble-Pw!x");
    checkHr(addRecipient(h, L"To", L"Taro", L"taro@example.com"), S_OK, "vtable_addrecipient");
    text = errorInfo(h);
    check(contains(text, L"taro@example.com") && !contains(text, kSendLog), "flag_email_after_addrecipient", "");
    SysFreeString(text);
    LONG sent = 7;
    checkHr(h->lpVtbl->SendMail(h, &sent), S_OK, "vtable_sendmail_hr");
    check(sent == 0, "vtable_sendmail_refused", "the send did not fail (is something listening on port 25?)");
    text = errorInfo(h);
    check(contains(text, kSendLog), "flag_mailman_after_sendmail", "");
    int crlf = text && wcsstr(text, L"\r\n");
    for (UINT i = 0; crlf && i < SysStringLen(text); ++i)
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) crlf = 0;
    check(crlf, "errorinfo_crlf", "lines do not end in CR LF");
    SysFreeString(text);
    text = errorInfo(h);
    check(contains(text, kSendLog), "flag_kept_by_errorinfo", "");
    SysFreeString(text);
    addRecipient(h, L"CC", L"", L"cc@example.com");
    text = errorInfo(h);
    check(contains(text, L"cc@example.com") && !contains(text, kSendLog), "flag_email_after_cc", "");
    SysFreeString(text);
    BSTR host = NULL;
    h->lpVtbl->get_SmtpHost(h, &host);
    check(host && wcscmp(host, L"127.0.0.1") == 0, "vtable_get_smtphost", "");
    SysFreeString(host);
    text = errorInfo(h);
    check(contains(text, kSendLog), "flag_mailman_after_get_smtphost", "");
    SysFreeString(text);
    BSTR password = NULL;
    h->lpVtbl->get_SmtpPassword(h, &password);
    check(password && wcscmp(password, L"Vt4ble-Pw!x") == 0, "vtable_get_smtppassword", "another value");
    SysFreeString(password);
    BSTR charset = NULL;
    h->lpVtbl->get_Charset(h, &charset);
    SysFreeString(charset);
    text = errorInfo(h);
    check(!contains(text, kSendLog), "flag_email_after_charset", "");
    SysFreeString(text);
    h->lpVtbl->SendMail(h, NULL);
    text = errorInfo(h);
    check(contains(text, kSendLog), "flag_mailman_after_send_null_out", "");
    SysFreeString(text);

    /* "bcc" in any case is Bcc; another type changes nothing, not even the log. */
    addRecipient(h, L"bcc", L"", L"hidden@example.com");
    before = errorInfo(h);
    addRecipient(h, L"Reply", L"", L"reply@example.com");
    text = errorInfo(h);
    check(before && text && wcscmp(before, text) == 0, "recipient_other_type_logs_nothing", "the log changed");
    SysFreeString(before);
    SysFreeString(text);
    addHeader(h, L"Subject", L"vtable");
    addHeader(h, L"From", L"vtable@example.com");
    call1(h->lpVtbl->SetPlainTextBody, h, L"plain text");
    call1(h->lpVtbl->SetHtmlBody, h, L"<p>html</p>");
    BSTR mime = NULL;
    h->lpVtbl->ExportToMime(h, &mime);
    check(contains(mime, L"multipart/alternative") && contains(mime, L"plain text") && contains(mime, L"html</p>"),
          "vtable_alternatives", "no multipart/alternative with both bodies");
    check(contains(mime, L"cc@example.com") && !contains(mime, L"hidden@example.com") &&
              !contains(mime, L"reply@example.com"),
          "vtable_recipients", "the header shows the wrong recipients");
    SysFreeString(mime);
    wchar_t path[MAX_PATH * 2];
    folderPath(path, MAX_PATH * 2, L"mime.eml");
    checkHr(call1(h->lpVtbl->ExportToMimeFile, h, path), S_OK, "vtable_exporttomimefile");

    /* A missing file: S_OK and a null BSTR. */
    folderPath(path, MAX_PATH * 2, L"missing.txt");
    BSTR file = B(path), cs = B(L"utf-8"), contents = (BSTR)(ULONG_PTR)1;
    checkHr(h->lpVtbl->ReadFile(h, file, cs, &contents), S_OK, "vtable_readfile_missing_hr");
    check(contents == NULL, "vtable_readfile_missing", "not a null BSTR");

    /* Null out pointers: no member writes through one, none fails. */
    HRESULT hrs[7];
    hrs[0] = h->lpVtbl->LoadHtmlComplete(h, file, NULL);
    hrs[1] = h->lpVtbl->AddFileAttachment(h, file, NULL);
    hrs[2] = h->lpVtbl->ExportToMime(h, NULL);
    hrs[3] = h->lpVtbl->get_Charset(h, NULL);
    hrs[4] = h->lpVtbl->ReadFile(h, file, cs, NULL);
    hrs[5] = h->lpVtbl->get_ErrorInfo(h, NULL);
    folderPath(path, MAX_PATH * 2, L"written.txt");
    BSTR out = B(path), body = B(L"written");
    hrs[6] = h->lpVtbl->WriteFile(h, out, cs, body, NULL);
    int ok = 1;
    for (int i = 0; i < 7; ++i) ok = ok && (hrs[i] == S_OK || hrs[i] == E_POINTER);
    snprintf(details, sizeof details, "0x%lx 0x%lx 0x%lx 0x%lx 0x%lx 0x%lx 0x%lx", (unsigned long)hrs[0],
             (unsigned long)hrs[1], (unsigned long)hrs[2], (unsigned long)hrs[3], (unsigned long)hrs[4],
             (unsigned long)hrs[5], (unsigned long)hrs[6]);
    check(ok, "vtable_null_out_pointers", details);
    contents = NULL;
    h->lpVtbl->ReadFile(h, out, cs, &contents);
    check(contents && wcscmp(contents, L"written") == 0, "vtable_writefile_null_out_wrote", "the file was not written");
    SysFreeString(contents);
    SysFreeString(file);
    SysFreeString(cs);
    SysFreeString(out);
    SysFreeString(body);
}

/* Every slot not seen above, each through an effect only it has: a slot
   the component placed elsewhere would show as a wrong result here. */
static BSTR mimeOf(HanamailC* h)
{
    BSTR mime = NULL;
    h->lpVtbl->ExportToMime(h, &mime);
    return mime;
}

static void checkSlots(HanamailC* h)
{
    BSTR value = NULL, mime = NULL, xml = NULL;
    call1(h->lpVtbl->put_SmtpLogin, h, L"slot-login");
    h->lpVtbl->get_SmtpLogin(h, &value);
    check(value && wcscmp(value, L"slot-login") == 0, "slot_smtplogin", "another login came back");
    SysFreeString(value);
    call1(h->lpVtbl->put_Charset, h, L"iso-8859-2");
    value = NULL;
    h->lpVtbl->get_Charset(h, &value);
    check(value && _wcsicmp(value, L"iso-8859-2") == 0, "slot_charset", "another charset came back");
    SysFreeString(value);

    addHeader(h, L"Subject", L"slot subject");
    addHeader(h, L"From", L"slot@example.com");
    addRecipient(h, L"To", L"", L"to@example.com");
    call1(h->lpVtbl->SetPlainTextBody, h, L"slot body");
    BSTR name = B(L"note.txt"), text = B(L"note body");
    h->lpVtbl->AddStringAttachment(h, name, text);
    SysFreeString(name);
    SysFreeString(text);
    mime = mimeOf(h);
    check(contains(mime, L"note.txt"), "slot_addstringattachment", "no attachment note.txt");
    SysFreeString(mime);
    call1(h->lpVtbl->ZipAttachments, h, L"pack.zip");
    mime = mimeOf(h);
    check(contains(mime, L"pack.zip") && !contains(mime, L"filename=\"note.txt\""), "slot_zipattachments",
          "the attachment was not packed into pack.zip");
    SysFreeString(mime);

    h->lpVtbl->ExportToXML(h, &xml);
    check(contains(xml, L"slot subject"), "slot_exporttoxml", "the XML form lacks the subject");
    call1(h->lpVtbl->ImportFromMime, h, L"From: other@example.com\r\nSubject: imported\r\n\r\nimported body\r\n");
    mime = mimeOf(h);
    check(contains(mime, L"Subject: imported") && !contains(mime, L"slot subject"), "slot_importfrommime",
          "the MIME text was not imported");
    SysFreeString(mime);
    if (xml) h->lpVtbl->ImportFromXML(h, xml);
    mime = mimeOf(h);
    check(contains(mime, L"slot subject"), "slot_importfromxml", "the XML form was not imported");
    SysFreeString(mime);
    SysFreeString(xml);

    wchar_t path[MAX_PATH * 2];
    folderPath(path, MAX_PATH * 2, L"page.html");
    BSTR file = B(path), cs = B(L"utf-8"), page = B(L"<html><body><p>LocalPageText</p></body></html>");
    LONG ok = 0;
    h->lpVtbl->WriteFile(h, file, cs, page, &ok);
    ok = 0;
    h->lpVtbl->LoadHtmlComplete(h, file, &ok);
    mime = mimeOf(h);
    check(ok == 1 && contains(mime, L"LocalPageText"), "slot_loadhtmlcomplete", "the page was not captured");
    SysFreeString(mime);
    SysFreeString(file);
    SysFreeString(cs);
    SysFreeString(page);
}

/* ------------------------------------------------------------ data */

/* An object whose default value is the object itself. */
typedef struct SelfValue {
    IDispatch iface;
    LONG refs;
    LONG invokes;
} SelfValue;

static HRESULT STDMETHODCALLTYPE selfQueryInterface(IDispatch* self, REFIID riid, void** ppv)
{
    if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IDispatch)) {
        *ppv = self;
        self->lpVtbl->AddRef(self);
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE selfAddRef(IDispatch* self)
{
    return (ULONG)InterlockedIncrement(&((SelfValue*)self)->refs);
}

static ULONG STDMETHODCALLTYPE selfRelease(IDispatch* self)
{
    return (ULONG)InterlockedDecrement(&((SelfValue*)self)->refs);
}

static HRESULT STDMETHODCALLTYPE selfGetTypeInfoCount(IDispatch* self, UINT* count)
{
    (void)self;
    *count = 0;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE selfGetTypeInfo(IDispatch* self, UINT index, LCID lcid, ITypeInfo** info)
{
    (void)self, (void)index, (void)lcid;
    *info = NULL;
    return E_NOTIMPL;
}

static HRESULT STDMETHODCALLTYPE selfGetIDsOfNames(IDispatch* self, REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                   DISPID* ids)
{
    (void)self, (void)riid, (void)names, (void)count, (void)lcid, (void)ids;
    return DISP_E_UNKNOWNNAME;
}

static HRESULT STDMETHODCALLTYPE selfInvoke(IDispatch* self, DISPID id, REFIID riid, LCID lcid, WORD flags,
                                            DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr)
{
    (void)riid, (void)lcid, (void)params, (void)excepInfo, (void)argErr;
    SelfValue* s = (SelfValue*)self;
    ++s->invokes;
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    self->lpVtbl->AddRef(self);
    result->vt = VT_DISPATCH;
    result->pdispVal = self;
    return S_OK;
}

static IDispatchVtbl kSelfVtbl = {selfQueryInterface, selfAddRef,        selfRelease, selfGetTypeInfoCount,
                                  selfGetTypeInfo,    selfGetIDsOfNames, selfInvoke};

enum { kDataSize = 300 };

static HRESULT addData(HanamailC* h, const wchar_t* name, VARIANT* v)
{
    BSTR n = B(name);
    const HRESULT hr = h->lpVtbl->AddDataAttachment(h, n, *v);
    SysFreeString(n);
    return hr;
}

static void checkDataAttachments(HanamailC* h)
{
    char details[128];
    addHeader(h, L"Subject", L"data");
    addHeader(h, L"From", L"data@example.com");
    addRecipient(h, L"To", L"", L"to@example.com");
    call1(h->lpVtbl->SetPlainTextBody, h, L"see the attachments");

    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, kDataSize);
    unsigned char* data = NULL;
    SafeArrayAccessData(bytes, (void**)&data);
    for (int i = 0; i < kDataSize; ++i) data[i] = (unsigned char)(i * 7 + i / 256);
    SafeArrayUnaccessData(bytes);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = bytes;
    checkHr(addData(h, L"bytes.bin", &v), S_OK, "data_byte_array");
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRef.pparray = &bytes;
    checkHr(addData(h, L"byref.bin", &byRef), S_OK, "data_byte_array_byref");
    SafeArrayDestroy(bytes);

    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    VARIANT* items = NULL;
    SafeArrayAccessData(variants, (void**)&items);
    items[0].vt = VT_BSTR;
    items[0].bstrVal = B(L"text");
    items[1].vt = VT_I4;
    items[1].lVal = 0x41424344;
    items[2].vt = VT_UI1;
    items[2].bVal = 0x45;
    SafeArrayUnaccessData(variants);
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = variants;
    checkHr(addData(h, L"variants.bin", &v), S_OK, "data_variant_array");
    SafeArrayDestroy(variants);

    SelfValue self = {{&kSelfVtbl}, 1, 0};
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = &self.iface;
    checkHr(addData(h, L"self.bin", &v), S_OK, "data_self_default_value");
    snprintf(details, sizeof details, "%ld references left, %ld calls", self.refs, self.invokes);
    check(self.refs == 1, "data_self_default_value_released", details);
    check(self.invokes >= 1 && self.invokes <= 100, "data_self_default_value_bounded", details);

    /* A file name the ANSI code page cannot hold reaches the file system and
       the attachment whole. */
    wchar_t path[MAX_PATH * 2];
    folderPath(path, MAX_PATH * 2, L"\x5831\x544A.txt");                                /* 報告.txt */
    BSTR file = B(path), cs = B(L"utf-8"), text = B(L"\x5831\x544A\x306E\x672C\x6587"); /* 報告の本文 */
    LONG ok = 0;
    h->lpVtbl->WriteFile(h, file, cs, text, &ok);
    check(ok == 1, "data_write_unicode_name", "WriteFile gave 0");
    ok = 0;
    h->lpVtbl->AddFileAttachment(h, file, &ok);
    snprintf(details, sizeof details, "AddFileAttachment gave 0 under code page %u", GetACP());
    check(ok == 1, "data_attach_unicode_name", details);
    SysFreeString(file);
    SysFreeString(cs);
    SysFreeString(text);

    folderPath(path, MAX_PATH * 2, L"data.eml");
    checkHr(call1(h->lpVtbl->ExportToMimeFile, h, path), S_OK, "data_export");
}

/* ------------------------------------------------------------ main */

int main(int argc, char** argv)
{
    if (argc != 3) {
        printf("usage: com_client DLL FOLDER\n");
        return 2;
    }
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, g_folder, MAX_PATH);
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("load FAIL error %lu\n", GetLastError());
        return 1;
    }
    pDllGetClassObject = (GetClassObjectFn)(void (*)(void))GetProcAddress(dll, "DllGetClassObject");
    pDllCanUnloadNow = (CanUnloadFn)(void (*)(void))GetProcAddress(dll, "DllCanUnloadNow");
    if (!pDllGetClassObject || !pDllCanUnloadNow) {
        printf("bind FAIL the entry points are missing\n");
        return 1;
    }
    checkHr(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK, "coinitialize");

    checkEntryPoints();
    checkTypeLibrary();
    HanamailC* h = newObject();
    if (h) {
        checkInterfaces(h);
        checkDispatch(h);
        checkVtable(h);
        check(h->lpVtbl->Release(h) == 0, "release", "references left");
    }
    h = newObject();
    if (h) {
        checkSlots(h);
        h->lpVtbl->Release(h);
    }
    h = newObject();
    if (h) {
        checkDataAttachments(h);
        h->lpVtbl->Release(h);
    }
    checkHr(pDllCanUnloadNow(), S_OK, "canunload_at_end");

    CoUninitialize();
    printf("com_client done %ld failures\n", g_failures);
    return g_failures ? 1 : 0;
}
