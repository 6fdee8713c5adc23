/* Objects of the registered Hanamail.dll on eight threads at once, each in
   a single-threaded apartment of its own. Every thread creates its object,
   waits until all eight exist, then composes in its own charset and sends
   to 127.0.0.1:25: the first uses of the charset tables and of the socket
   start-up all happen side by side.

   threads FOLDER LOGIN PASSWORD [refused]

   FOLDER holds texts.txt (UTF-16LE, one line per thread: charset, subject
   and body separated by tabs) and receives errorinfo-N.txt, the ErrorInfo
   text after each send. Prints one line per check and "threads done N
   failures" last. The password is never printed. */
#include <string.h>
#include <wchar.h>

#include "hanamail_c.h"

enum { kThreads = 8 };

typedef struct Job {
    int index;
    wchar_t charset[32];
    wchar_t subject[128];
    wchar_t body[256];
    HANDLE created;
} Job;

static Job g_jobs[kThreads];
static HANDLE g_go;
static wchar_t g_folder[MAX_PATH];
static BSTR g_login, g_password;

static void checkHr(HRESULT hr, const char* name)
{
    char details[64];
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    check(SUCCEEDED(hr), name, details);
}

static void threadCheck(int ok, const Job* job, const char* what, const char* details)
{
    char name[64];
    snprintf(name, sizeof name, "thread_%d_%s", job->index, what);
    check(ok, name, details);
}

static HRESULT put(HRESULT(STDMETHODCALLTYPE* fn)(HanamailC*, BSTR), HanamailC* h, const wchar_t* value)
{
    BSTR v = SysAllocString(value);
    const HRESULT hr = fn(h, v);
    SysFreeString(v);
    return hr;
}

static HRESULT two(HRESULT(STDMETHODCALLTYPE* fn)(HanamailC*, BSTR, BSTR), HanamailC* h, const wchar_t* a,
                   const wchar_t* b)
{
    BSTR x = SysAllocString(a), y = SysAllocString(b);
    const HRESULT hr = fn(h, x, y);
    SysFreeString(x);
    SysFreeString(y);
    return hr;
}

static void compose(HanamailC* h, const Job* job)
{
    wchar_t from[64], to[64], body[300];
    swprintf(from, 64, L"thread %d <thread%d@example.com>", job->index, job->index);
    swprintf(to, 64, L"rcpt%d@example.com", job->index);
    swprintf(body, 300, L"%ls\r\n", job->body);
    put(h->lpVtbl->put_Charset, h, job->charset);
    two(h->lpVtbl->AddHeaderField, h, L"From", from);
    two(h->lpVtbl->AddHeaderField, h, L"Subject", job->subject);
    BSTR type = SysAllocString(L"To"), name = SysAllocString(L""), addr = SysAllocString(to);
    h->lpVtbl->AddRecipient(h, type, name, addr);
    SysFreeString(type);
    SysFreeString(name);
    SysFreeString(addr);
    put(h->lpVtbl->SetPlainTextBody, h, body);
    put(h->lpVtbl->put_SmtpHost, h, L"127.0.0.1");
    h->lpVtbl->put_SmtpLogin(h, g_login);
    h->lpVtbl->put_SmtpPassword(h, g_password);
}

static DWORD WINAPI worker(void* arg)
{
    Job* job = (Job*)arg;
    char details[96];
    const HRESULT init = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    HanamailC* h = NULL;
    const HRESULT hr = SUCCEEDED(init)
                           ? CoCreateInstance(&kClsidHanamail, NULL, CLSCTX_INPROC_SERVER, &kIidHanamail, (void**)&h)
                           : init;
    snprintf(details, sizeof details, "hr 0x%08lx", (unsigned long)hr);
    threadCheck(SUCCEEDED(hr) && h, job, "created", details);
    SetEvent(job->created);
    if (!h) {
        if (SUCCEEDED(init)) CoUninitialize();
        return 1;
    }
    WaitForSingleObject(g_go, INFINITE);

    compose(h, job);
    /* The XML form builds a document tree on every thread at once. */
    BSTR xml = NULL;
    wchar_t to[64];
    swprintf(to, 64, L"rcpt%d@example.com", job->index);
    h->lpVtbl->ExportToXML(h, &xml);
    threadCheck(xml && wcsstr(xml, to) != NULL, job, "xml", "the XML form lacks the recipient");
    SysFreeString(xml);
    LONG sent = 0;
    h->lpVtbl->SendMail(h, &sent);
    threadCheck(sent == 1, job, "sent", "SendMail gave 0");
    BSTR text = NULL;
    h->lpVtbl->get_ErrorInfo(h, &text);
    wchar_t path[MAX_PATH * 2];
    swprintf(path, MAX_PATH * 2, L"%ls\\errorinfo-%d.txt", g_folder, job->index);
    threadCheck(appendUtf8(path, text ? text : L"", SysStringLen(text)), job, "errorinfo_saved", "");
    SysFreeString(text);
    threadCheck(h->lpVtbl->Release(h) == 0, job, "released", "references left");
    CoUninitialize();
    return 0;
}

/* texts.txt: one line per thread, "charset TAB subject TAB body". */
static int readJobs(void)
{
    wchar_t path[MAX_PATH * 2];
    swprintf(path, MAX_PATH * 2, L"%ls\\texts.txt", g_folder);
    FILE* f = _wfopen(path, L"rb");
    if (!f) return 0;
    static wchar_t text[8192];
    const size_t n = fread(text, sizeof(wchar_t), 8191, f);
    fclose(f);
    text[n] = 0;
    wchar_t* p = text[0] == 0xFEFF ? text + 1 : text;
    for (int i = 0; i < kThreads; ++i) {
        wchar_t* end = wcschr(p, L'\n');
        if (!end) return 0;
        *end = 0;
        if (end > p && end[-1] == L'\r') end[-1] = 0;
        wchar_t* tab1 = wcschr(p, L'\t');
        wchar_t* tab2 = tab1 ? wcschr(tab1 + 1, L'\t') : NULL;
        if (!tab2) return 0;
        *tab1 = *tab2 = 0;
        g_jobs[i].index = i;
        wcsncpy(g_jobs[i].charset, p, 31);
        wcsncpy(g_jobs[i].subject, tab1 + 1, 127);
        wcsncpy(g_jobs[i].body, tab2 + 1, 255);
        p = end + 1;
    }
    return 1;
}

/* One send whose login the server refuses: its log must not show the
   password either. */
static void refusedLogin(void)
{
    checkHr(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), "refused_coinitialize");
    HanamailC* h = NULL;
    CoCreateInstance(&kClsidHanamail, NULL, CLSCTX_INPROC_SERVER, &kIidHanamail, (void**)&h);
    if (h) {
        Job refused = {kThreads, L"utf-8", L"refused", L"refused", NULL};
        compose(h, &refused);
        LONG sent = 1;
        h->lpVtbl->SendMail(h, &sent);
        check(sent == 0, "refused_login", "the send went through");
        BSTR text = NULL;
        h->lpVtbl->get_ErrorInfo(h, &text);
        wchar_t path[MAX_PATH * 2];
        swprintf(path, MAX_PATH * 2, L"%ls\\errorinfo-refused.txt", g_folder);
        check(appendUtf8(path, text ? text : L"", SysStringLen(text)), "refused_errorinfo_saved", "");
        SysFreeString(text);
        h->lpVtbl->Release(h);
    } else {
        check(0, "refused_create", "no object");
    }
    CoUninitialize();
}

int main(int argc, char** argv)
{
    if (argc != 4 && !(argc == 5 && strcmp(argv[4], "refused") == 0)) {
        printf("usage: threads FOLDER LOGIN PASSWORD [refused]\n");
        return 2;
    }
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, g_folder, MAX_PATH);
    g_login = bstrFromAnsi(argv[2]);
    g_password = bstrFromAnsi(argv[3]);
    if (argc == 5) {
        refusedLogin();
        SysFreeString(g_login);
        SysFreeString(g_password);
        printf("threads done %ld failures\n", g_failures);
        return g_failures ? 1 : 0;
    }
    if (!readJobs()) {
        printf("texts FAIL texts.txt is missing or short\n");
        return 1;
    }
    g_go = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE threads[kThreads], created[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        created[i] = g_jobs[i].created = CreateEventW(NULL, TRUE, FALSE, NULL);
        threads[i] = CreateThread(NULL, 0, worker, &g_jobs[i], 0, NULL);
    }
    check(WaitForMultipleObjects(kThreads, created, TRUE, 60000) == WAIT_OBJECT_0, "all_created",
          "not every thread got this far");
    /* Released together. */
    SetEvent(g_go);
    check(WaitForMultipleObjects(kThreads, threads, TRUE, 240000) == WAIT_OBJECT_0, "all_finished",
          "a thread did not finish");
    for (int i = 0; i < kThreads; ++i) {
        CloseHandle(threads[i]);
        CloseHandle(created[i]);
    }
    CloseHandle(g_go);

    SysFreeString(g_login);
    SysFreeString(g_password);
    printf("threads done %ld failures\n", g_failures);
    return g_failures ? 1 : 0;
}
