/* IHanamail as a C client declares it: a table of function pointers in
   the interface's slot order (the three IUnknown and four IDispatch slots,
   then the members in the order of their DISPIDs), and the identities of
   the class, the interface and the type library. Written independently of
   the component's own declaration, so that a test bound to it checks that
   the vtable is what clients were promised. */
#ifndef HANAMAIL_C_H
#define HANAMAIL_C_H

#include <windows.h>
/* (after windows.h, which they need) */
#include <oleauto.h>
#include <stdio.h>

static const CLSID kClsidHanamail = {0x6F1C2D3A, 0x5B4E, 0x4A7F, {0x9C, 0x21, 0x3E, 0x8D, 0x7B, 0x5A, 0x9F, 0x10}};
static const IID kIidHanamail = {0x8C47E2B9, 0x1F6A, 0x4D93, {0xB0, 0xE5, 0x5A, 0x2C, 0x9D, 0x7F, 0x3E, 0x61}};
static const GUID kLibidHanamail = {0x2A9E4C71, 0x8D3B, 0x4F06, {0xA5, 0xC2, 0x71, 0xB9, 0xE0, 0xD4, 0xC8, 0x33}};

typedef struct HanamailC HanamailC;

typedef struct HanamailCVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(HanamailC* self, REFIID riid, void** ppv);
    ULONG(STDMETHODCALLTYPE* AddRef)(HanamailC* self);
    ULONG(STDMETHODCALLTYPE* Release)(HanamailC* self);

    HRESULT(STDMETHODCALLTYPE* GetTypeInfoCount)(HanamailC* self, UINT* count);
    HRESULT(STDMETHODCALLTYPE* GetTypeInfo)(HanamailC* self, UINT index, LCID lcid, ITypeInfo** info);
    HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)
    (HanamailC* self, REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (HanamailC* self, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* excepInfo, UINT* argErr);

    HRESULT(STDMETHODCALLTYPE* get_SmtpHost)(HanamailC* self, BSTR* pVal);
    HRESULT(STDMETHODCALLTYPE* put_SmtpHost)(HanamailC* self, BSTR newVal);
    HRESULT(STDMETHODCALLTYPE* get_SmtpLogin)(HanamailC* self, BSTR* pVal);
    HRESULT(STDMETHODCALLTYPE* put_SmtpLogin)(HanamailC* self, BSTR newVal);
    HRESULT(STDMETHODCALLTYPE* get_SmtpPassword)(HanamailC* self, BSTR* pVal);
    HRESULT(STDMETHODCALLTYPE* put_SmtpPassword)(HanamailC* self, BSTR newVal);
    HRESULT(STDMETHODCALLTYPE* SetHtmlBody)(HanamailC* self, BSTR htmlString);
    HRESULT(STDMETHODCALLTYPE* LoadHtmlComplete)(HanamailC* self, BSTR htmlFilenameOrUrl, LONG* success);
    HRESULT(STDMETHODCALLTYPE* SetPlainTextBody)(HanamailC* self, BSTR bodyText);
    HRESULT(STDMETHODCALLTYPE* AddHeaderField)(HanamailC* self, BSTR fieldName, BSTR fieldValue);
    HRESULT(STDMETHODCALLTYPE* AddRecipient)
    (HanamailC* self, BSTR recipientType, BSTR recipientName, BSTR recipientAddr);
    HRESULT(STDMETHODCALLTYPE* ExportToXML)(HanamailC* self, BSTR* xml);
    HRESULT(STDMETHODCALLTYPE* ImportFromXML)(HanamailC* self, BSTR xml);
    HRESULT(STDMETHODCALLTYPE* AddFileAttachment)(HanamailC* self, BSTR filename, LONG* success);
    HRESULT(STDMETHODCALLTYPE* AddDataAttachment)(HanamailC* self, BSTR filename, VARIANT data);
    HRESULT(STDMETHODCALLTYPE* ZipAttachments)(HanamailC* self, BSTR zipFilename);
    HRESULT(STDMETHODCALLTYPE* ImportFromMime)(HanamailC* self, BSTR mimeText);
    HRESULT(STDMETHODCALLTYPE* ExportToMime)(HanamailC* self, BSTR* mimeText);
    HRESULT(STDMETHODCALLTYPE* get_Charset)(HanamailC* self, BSTR* pVal);
    HRESULT(STDMETHODCALLTYPE* put_Charset)(HanamailC* self, BSTR newVal);
    HRESULT(STDMETHODCALLTYPE* get_ErrorInfo)(HanamailC* self, BSTR* pVal);
    HRESULT(STDMETHODCALLTYPE* SendMail)(HanamailC* self, LONG* success);
    HRESULT(STDMETHODCALLTYPE* ReadFile)(HanamailC* self, BSTR filename, BSTR Charset, BSTR* contents);
    HRESULT(STDMETHODCALLTYPE* WriteFile)(HanamailC* self, BSTR filename, BSTR Charset, BSTR contents, LONG* success);
    HRESULT(STDMETHODCALLTYPE* AddStringAttachment)(HanamailC* self, BSTR filename, BSTR str);
    HRESULT(STDMETHODCALLTYPE* ExportToMimeFile)(HanamailC* self, BSTR filename);
} HanamailCVtbl;

struct HanamailC {
    const HanamailCVtbl* lpVtbl;
};

/* One line per check: "NAME ok" or "NAME FAIL details". */
static LONG g_failures;

static inline void check(int ok, const char* name, const char* details)
{
    if (ok) {
        printf("%s ok\n", name);
    } else {
        printf("%s FAIL %s\n", name, details ? details : "");
        InterlockedIncrement(&g_failures);
    }
    fflush(stdout);
}

/* A BSTR as UTF-8, appended to a file; the tests' judges read those. */
static inline int appendUtf8(const wchar_t* path, const wchar_t* text, UINT length)
{
    FILE* f = _wfopen(path, L"ab");
    if (!f) return 0;
    int ok = 1;
    if (length) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, NULL, 0, NULL, NULL);
        char* bytes = (char*)HeapAlloc(GetProcessHeap(), 0, n > 0 ? (SIZE_T)n : 1);
        if (!bytes || WideCharToMultiByte(CP_UTF8, 0, text, (int)length, bytes, n, NULL, NULL) != n ||
            fwrite(bytes, 1, (size_t)n, f) != (size_t)n)
            ok = 0;
        if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    }
    if (fclose(f) != 0) ok = 0;
    return ok;
}

/* An ANSI argument (the tests pass ASCII paths) as a new BSTR. */
static inline BSTR bstrFromAnsi(const char* text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    BSTR s = SysAllocStringLen(NULL, n > 0 ? (UINT)(n - 1) : 0);
    if (s && n > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, s, n);
    return s;
}

#endif
