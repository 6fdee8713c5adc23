// The security packages on Windows: the system's, through the function table
// of "security.dll". The library is loaded once per process and kept until
// it ends, so no caller ever sees a table of an unloaded library.
#include <windows.h>
// (after windows.h, which they need)
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>

#include <mutex>

#include "platform/SecurityInterface.h"

namespace hanamail {

namespace platform {

namespace {

SecHandle toNative(const SecHandleValue& h)
{
    SecHandle n;
    n.dwLower = h.lower;
    n.dwUpper = h.upper;
    return n;
}

SecHandleValue fromNative(const SecHandle& n)
{
    return SecHandleValue{n.dwLower, n.dwUpper};
}

class Win32Security : public SecurityInterface {
public:
    explicit Win32Security(PSecurityFunctionTableA table) : m_table(table) {}

    uint32_t enumeratePackages(SecPackageList& out) override
    {
        out = SecPackageList();
        ULONG count = 0;
        PSecPkgInfoA info = nullptr;
        SECURITY_STATUS st = m_table->EnumerateSecurityPackagesA(&count, &info);
        if (st != SEC_E_OK) return static_cast<uint32_t>(st);
        out.raw = info;
        for (ULONG i = 0; i < count; ++i)
            out.packages.push_back(SecPackage{info[i].Name ? info[i].Name : "", info[i].cbMaxToken});
        return SEC_E_OK;
    }

    uint32_t acquireCredentials(const char* package, const SecIdentity& id, SecHandleValue& out) override
    {
        SEC_WINNT_AUTH_IDENTITY_A identity = {};
        identity.User = const_cast<unsigned char*>(id.user);
        identity.UserLength = id.userLength;
        identity.Domain = const_cast<unsigned char*>(id.domain);
        identity.DomainLength = id.domainLength;
        identity.Password = const_cast<unsigned char*>(id.password);
        identity.PasswordLength = id.passwordLength;
        identity.Flags = id.flags;
        CredHandle cred = {};
        TimeStamp expiry;
        SECURITY_STATUS st =
            m_table->AcquireCredentialsHandleA(nullptr, const_cast<char*>(package), SECPKG_CRED_OUTBOUND, nullptr,
                                               &identity, nullptr, nullptr, &cred, &expiry);
        if (st == SEC_E_OK) out = fromNative(cred);
        return static_cast<uint32_t>(st);
    }

    uint32_t initializeContext(const SecHandleValue* credentials, const SecHandleValue* context,
                               const unsigned char* input, uint32_t inputLength, SecHandleValue& newContext,
                               unsigned char* outToken, uint32_t outCapacity, uint32_t& outLength,
                               uint32_t& attributes) override
    {
        CredHandle cred = credentials ? toNative(*credentials) : CredHandle{};
        CtxtHandle existing = context ? toNative(*context) : CtxtHandle{};
        CtxtHandle created = toNative(newContext);
        SecBuffer inBuffer = {inputLength, SECBUFFER_TOKEN, const_cast<unsigned char*>(input)};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 1, &inBuffer};
        SecBuffer outBuffer = {outCapacity, SECBUFFER_TOKEN, outToken};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attrs = attributes;
        TimeStamp expiry;
        SECURITY_STATUS st = m_table->InitializeSecurityContextA(
            credentials ? &cred : nullptr, context ? &existing : nullptr, nullptr, attributes, 0, SECURITY_NATIVE_DREP,
            input ? &inDesc : nullptr, 0, &created, &outDesc, &attrs, &expiry);
        attributes = attrs;
        outLength = outBuffer.cbBuffer;
        newContext = fromNative(created);
        return static_cast<uint32_t>(st);
    }

    uint32_t completeAuthToken(const SecHandleValue& context, unsigned char* token, uint32_t length) override
    {
        CtxtHandle ctx = toNative(context);
        SecBuffer buffer = {length, SECBUFFER_TOKEN, token};
        SecBufferDesc desc = {SECBUFFER_VERSION, 1, &buffer};
        return static_cast<uint32_t>(m_table->CompleteAuthToken(&ctx, &desc));
    }

    uint32_t deleteContext(const SecHandleValue& context) override
    {
        CtxtHandle ctx = toNative(context);
        return static_cast<uint32_t>(m_table->DeleteSecurityContext(&ctx));
    }

    uint32_t freeCredentials(const SecHandleValue& credentials) override
    {
        CredHandle cred = toNative(credentials);
        return static_cast<uint32_t>(m_table->FreeCredentialsHandle(&cred));
    }

    uint32_t freeBuffer(void* raw) override
    {
        return raw ? static_cast<uint32_t>(m_table->FreeContextBuffer(raw)) : SEC_E_OK;
    }

private:
    PSecurityFunctionTableA m_table;
};

Win32Security* g_security = nullptr;
std::once_flag g_loaded;

void load()
{
    HMODULE lib = LoadLibraryA("security.dll");
    if (!lib) return;
    auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InitSecurityInterfaceA")));
    PSecurityFunctionTableA table = init ? init() : nullptr;
    if (!table) {
        FreeLibrary(lib);
        return;
    }
    // Kept for the life of the process: the table points into the library.
    static Win32Security instance(table);
    g_security = &instance;
}

}  // namespace

SecurityInterface* securityInterface()
{
    std::call_once(g_loaded, load);
    return g_security;
}

}  // namespace platform

}  // namespace hanamail
