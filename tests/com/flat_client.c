/* A plain C client of Hanamail.dll's exports, not registered: every
   ordinal against its name; an object whose type information is not there
   until the client registers the DLL itself; then the flat functions with
   Shift_JIS text (the process must run under the Japanese ANSI code page,
   932), an export and a send.

   flat_client DLL FOLDER LOGIN PASSWORD

   Prints one line per check ("NAME ok" or "NAME FAIL details") and
   "flat_client done" at the end. The password is never printed. */
#include <string.h>

#include "hanamail_c.h"

typedef void(__stdcall* SetText)(const char*);
typedef void(__stdcall* SetTwo)(const char*, const char*);
typedef void(__stdcall* SetThree)(const char*, const char*, const char*);
typedef unsigned char(__stdcall* BoolText)(const char*);
typedef unsigned char(__stdcall* BoolVoid)(void);
typedef void(__stdcall* Void)(void);

/* The export table: ordinal -> name; null where no ordinal is given out. */
static const char* const kExports[26] = {
    NULL,
    "DllCanUnloadNow",
    "DllGetClassObject",
    "DllRegisterServer",
    "DllUnregisterServer",
    "SetSmtpHost",
    "SetSmtpLogin",
    "SetSmtpPassword",
    "SetHtmlBody",
    "LoadHtmlComplete",
    "SetPlainTextBody",
    "AddHeaderField",
    "AddRecipient",
    "ExportToXmlFile",
    "ImportFromXml",
    "ExportToMimeFile",
    "ImportFromMime",
    NULL,
    "SendMail",
    "SetCharset",
    NULL,
    NULL,
    "AddFileAttachment",
    "SaveErrorInfo",
    "ZipAttachments",
    "ClearMail",
};

static FARPROC byOrdinal(HMODULE dll, int ordinal)
{
    return GetProcAddress(dll, (LPCSTR)(ULONG_PTR)ordinal);
}

/* A function bound by ordinal, in the generic form every type casts from. */
typedef void (*AnyFunction)(void);

static AnyFunction bound(HMODULE dll, int ordinal)
{
    return (AnyFunction)byOrdinal(dll, ordinal);
}

static void checkOrdinals(HMODULE dll)
{
    for (int ordinal = 1; ordinal <= 25; ++ordinal) {
        char name[64], details[160];
        const FARPROC at = byOrdinal(dll, ordinal);
        snprintf(name, sizeof name, "ordinal_%d", ordinal);
        if (!kExports[ordinal]) {
            snprintf(details, sizeof details, "something is exported at %d", ordinal);
            check(at == NULL, name, details);
            continue;
        }
        const FARPROC named = GetProcAddress(dll, kExports[ordinal]);
        snprintf(details, sizeof details, "%s: by ordinal %p, by name %p", kExports[ordinal], (void*)at, (void*)named);
        check(at != NULL && at == named, name, details);
    }
    check(byOrdinal(dll, 26) == NULL, "ordinal_26", "something is exported past the last ordinal");
}

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* ServerFn)(void);

/* Dispatch calls fail while the type library is not registered, and work on
   the same object once it is. */
static void checkTypeInfoLoad(HMODULE dll)
{
    char details[96];
    GetClassObjectFn getClassObject = (GetClassObjectFn)bound(dll, 2);
    ServerFn registerServer = (ServerFn)bound(dll, 3), unregisterServer = (ServerFn)bound(dll, 4);
    IClassFactory* factory = NULL;
    HanamailC* h = NULL;
    if (FAILED(getClassObject(&kClsidHanamail, &IID_IClassFactory, (void**)&factory)) ||
        FAILED(factory->lpVtbl->CreateInstance(factory, NULL, &kIidHanamail, (void**)&h))) {
        check(0, "unregistered_create", "no object from the class factory");
        if (factory) factory->lpVtbl->Release(factory);
        return;
    }
    factory->lpVtbl->Release(factory);
    LPOLESTR name[] = {L"SendMail"};
    DISPID id = 0;
    HRESULT hr = h->lpVtbl->GetIDsOfNames(h, &IID_NULL, name, 1, 0x409, &id);
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    check(FAILED(hr), "unregistered_names_fail", details);
    DISPPARAMS none = {NULL, NULL, 0, 0};
    hr = h->lpVtbl->Invoke(h, 21, &IID_NULL, 0x409, DISPATCH_METHOD, &none, NULL, NULL, NULL);
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    check(FAILED(hr), "unregistered_invoke_fails", details);
    BSTR host = SysAllocString(L"vtable.example.com"), back = NULL;
    h->lpVtbl->put_SmtpHost(h, host);
    h->lpVtbl->get_SmtpHost(h, &back);
    check(back && wcscmp(back, host) == 0, "unregistered_vtable_call", "another host came back");
    SysFreeString(host);
    SysFreeString(back);

    hr = registerServer();
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    check(hr == S_OK, "register_in_process", details);
    id = 0;
    hr = h->lpVtbl->GetIDsOfNames(h, &IID_NULL, name, 1, 0x409, &id);
    snprintf(details, sizeof details, "hr 0x%08lx id %ld", (unsigned long)hr, (long)id);
    check(hr == S_OK && id == 21, "registered_names_work", details);
    h->lpVtbl->Release(h);
    hr = unregisterServer();
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    check(hr == S_OK, "unregister_in_process", details);
}

static void join(char* out, size_t size, const char* folder, const char* file)
{
    snprintf(out, size, "%s\\%s", folder, file);
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        printf("usage: flat_client DLL FOLDER LOGIN PASSWORD\n");
        return 2;
    }
    const char* folder = argv[2];
    char details[512], path[MAX_PATH * 2];

    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("load FAIL error %lu\n", GetLastError());
        return 1;
    }
    checkOrdinals(dll);
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    checkTypeInfoLoad(dll);

    snprintf(details, sizeof details, "ANSI code page %u", GetACP());
    check(GetACP() == 932, "acp_932", details);

    /* Bound by ordinal, as an old client with an import library by number does. */
    SetText setSmtpHost = (SetText)bound(dll, 5);
    SetText setSmtpLogin = (SetText)bound(dll, 6);
    SetText setSmtpPassword = (SetText)bound(dll, 7);
    SetText setPlainTextBody = (SetText)bound(dll, 10);
    SetTwo addHeaderField = (SetTwo)bound(dll, 11);
    SetThree addRecipient = (SetThree)bound(dll, 12);
    BoolText exportToMimeFile = (BoolText)bound(dll, 15);
    BoolVoid sendMail = (BoolVoid)bound(dll, 18);
    BoolText addFileAttachment = (BoolText)bound(dll, 22);
    BoolText saveErrorInfo = (BoolText)bound(dll, 23);
    Void clearMail = (Void)bound(dll, 25);
    if (!setSmtpHost || !setSmtpLogin || !setSmtpPassword || !setPlainTextBody || !addHeaderField || !addRecipient ||
        !exportToMimeFile || !sendMail || !addFileAttachment || !saveErrorInfo || !clearMail) {
        printf("bind FAIL a flat function is missing\n");
        return 1;
    }

    /* Shift_JIS bytes, written out so that no editor or compiler recodes them. */
    /* 山田 太郎 <taro@example.jp> */
    static const char kFrom[] =
        "\x8E\x52\x93\x63\x20\x91\xBE\x98\x59\x20\x3C\x74\x61\x72\x6F\x40\x65\x78\x61\x6D\x70"
        "\x6C\x65\x2E\x6A\x70\x3E";
    /* 来週の打ち合わせ（表示ソフト）: 表 and ソ end in the byte of a backslash. */
    static const char kSubject[] =
        "\x97\x88\x8F\x54\x82\xCC\x91\xC5\x82\xBF\x8D\x87\x82\xED\x82\xB9\x81\x69\x95\x5C"
        "\x8E\xA6\x83\x5C\x83\x74\x83\x67\x81\x6A";
    /* 田中 花子 */
    static const char kToName[] = "\x93\x63\x92\x86\x20\x89\xD4\x8E\x71";
    /* 田中様 CR LF よろしくお願いします。 CR LF */
    static const char kBody[] =
        "\x93\x63\x92\x86\x97\x6C\x0D\x0A\x82\xE6\x82\xEB\x82\xB5\x82\xAD\x82\xA8\x8A\xE8\x82"
        "\xA2\x82\xB5\x82\xDC\x82\xB7\x81\x42\x0D\x0A";
    /* 資料.txt (made by the test) and 報告.eml */
    static const char kAttachment[] = "\x8E\x91\x97\xBF\x2E\x74\x78\x74";
    static const char kExport[] = "\x95\xF1\x8D\x90\x2E\x65\x6D\x6C";

    clearMail();
    addHeaderField("From", kFrom);
    addHeaderField("Subject", kSubject);
    addRecipient("To", kToName, "hanako@example.jp");
    addRecipient("bcc", "", "hidden@example.jp");
    setPlainTextBody(kBody);
    join(path, sizeof path, folder, kAttachment);
    check(addFileAttachment(path) == 1, "attach_sjis_name", "AddFileAttachment gave 0");
    join(path, sizeof path, folder, kExport);
    check(exportToMimeFile(path) == 1, "export_sjis_name", "ExportToMimeFile gave 0");
    join(path, sizeof path, folder, "export-log.xml");
    check(saveErrorInfo(path) == 1, "save_export_log", "SaveErrorInfo gave 0");

    setSmtpHost("127.0.0.1");
    setSmtpLogin(argv[3]);
    setSmtpPassword(argv[4]);
    check(sendMail() == 1, "send", "SendMail gave 0");
    join(path, sizeof path, folder, "send-log.xml");
    check(saveErrorInfo(path) == 1, "save_send_log", "SaveErrorInfo gave 0");

    CoUninitialize();
    printf("flat_client done %ld failures\n", g_failures);
    return g_failures ? 1 : 0;
}
