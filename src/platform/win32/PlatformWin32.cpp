#include <windows.h>
// (after windows.h, which it needs)
#include <rpc.h>

#include <cstring>

#include "platform/Platform.h"
#include "platform/UuidFormat.h"

namespace hanamail {

namespace platform {

int ansiCodePage()
{
    return static_cast<int>(GetACP());
}
int oemCodePage()
{
    return static_cast<int>(GetOEMCP());
}

uint32_t lastErrorCode()
{
    return GetLastError();
}
void setLastErrorCode(uint32_t code)
{
    SetLastError(code);
}

std::string systemErrorText(uint32_t code)
{
    wchar_t* wide = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
    std::string text;
    if (n && wide) {
        int len = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        if (len > 0) {
            text.resize(static_cast<size_t>(len));
            WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), text.data(), len, nullptr, nullptr);
        }
    }
    if (wide) LocalFree(wide);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

uint32_t tickCount()
{
    return GetTickCount();
}
void sleepMs(uint32_t ms)
{
    Sleep(ms);
}

std::string localHostName()
{
    char name[256];
    DWORD n = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &n) || n == 0) return "unknown";
    return std::string(name, n);
}

bool createUuid(Uuid& out)
{
    UUID u;
    RPC_STATUS rc = UuidCreate(&u);
    if (rc != RPC_S_OK && rc != RPC_S_UUID_LOCAL_ONLY) return false;
    out.data1 = u.Data1;
    out.data2 = u.Data2;
    out.data3 = u.Data3;
    std::memcpy(out.data4, u.Data4, 8);
    return true;
}

std::string uuidToString(const Uuid& u)
{
    return formatUuid(u);
}

bool environmentValue(const char* name, std::string& out)
{
    const DWORD n = ::GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0) return false;
    std::string value(n, '\0');
    const DWORD got = ::GetEnvironmentVariableA(name, value.data(), n);
    if (got == 0 || got >= n) return false;
    value.resize(got);
    out = value;
    return true;
}

bool standardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace platform

}  // namespace hanamail
