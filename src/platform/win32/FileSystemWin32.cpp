#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace hanamail {

namespace platform {

namespace {

// UTF-8 to a NUL-terminated UTF-16 name; false (last error set) for an empty or unconvertible name.
bool toWide(const char* utf8, std::wstring& out)
{
    out.clear();
    if (!utf8 || !*utf8) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n) <= 0) return false;
    out.resize(static_cast<size_t>(n - 1));
    return true;
}

std::string toUtf8(const wchar_t* wide, size_t n)
{
    std::string out;
    if (n == 0) return out;
    int len = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (len <= 0) return out;
    out.resize(static_cast<size_t>(len));
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), out.data(), len, nullptr, nullptr);
    return out;
}

}  // namespace

FileHandle openFile(const char* utf8Name, FileOpenMode mode)
{
    std::wstring name;
    if (!toWide(utf8Name, name)) return kInvalidFile;
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD creation = OPEN_EXISTING;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    switch (mode) {
        case FileOpenMode::Read: break;
        case FileOpenMode::ReadDirectory: attributes = FILE_FLAG_BACKUP_SEMANTICS; break;
        case FileOpenMode::Write:
            access = GENERIC_WRITE;
            share = 0;
            creation = CREATE_ALWAYS;
            break;
        case FileOpenMode::ReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            creation = OPEN_ALWAYS;
            break;
        case FileOpenMode::CreateNew:
            // CREATE_NEW fails on any existing name, a link included.
            access = GENERIC_WRITE;
            share = 0;
            creation = CREATE_NEW;
            break;
    }
    for (int attempt = 1;; ++attempt) {
        HANDLE h = CreateFileW(name.c_str(), access, share, nullptr, creation, attributes, nullptr);
        if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(h);
        DWORD err = GetLastError();
        if (err != ERROR_SHARING_VIOLATION || attempt >= kOpenAttempts) return kInvalidFile;
        Sleep(kOpenRetryDelayMs);
        SetLastError(err);
    }
}

bool lastErrorWasFileExists()
{
    const DWORD e = GetLastError();
    return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
}

void closeFile(FileHandle h)
{
    if (h == kInvalidFile) return;
    DWORD saved = GetLastError();
    CloseHandle(reinterpret_cast<HANDLE>(h));
    SetLastError(saved);
}

bool getFileSize(FileHandle h, uint64_t& size)
{
    size = 0;
    LARGE_INTEGER li;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(h), &li)) return false;
    size = li.QuadPart > 0 ? static_cast<uint64_t>(li.QuadPart) : 0;
    return true;
}

bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t& got)
{
    DWORD done = 0;
    BOOL ok = ReadFile(reinterpret_cast<HANDLE>(h), buf, n, &done, nullptr);
    got = done;
    return ok != FALSE;
}

bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t& written)
{
    DWORD done = 0;
    BOOL ok = WriteFile(reinterpret_cast<HANDLE>(h), buf, n, &done, nullptr);
    written = done;
    return ok != FALSE;
}

bool deleteFile(const char* utf8Name)
{
    std::wstring name;
    return toWide(utf8Name, name) && DeleteFileW(name.c_str());
}

bool moveFile(const char* utf8From, const char* utf8To)
{
    std::wstring from, to;
    return toWide(utf8From, from) && toWide(utf8To, to) &&
           MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

bool createDirectory(const char* utf8Name)
{
    std::wstring name;
    return toWide(utf8Name, name) && CreateDirectoryW(name.c_str(), nullptr);
}

bool getCurrentDirectory(std::string& utf8Out)
{
    utf8Out.clear();
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return false;
    std::wstring buf(n, L'\0');
    DWORD got = GetCurrentDirectoryW(n, buf.data());
    if (got == 0 || got >= n) return false;
    utf8Out = toUtf8(buf.data(), got);
    return true;
}

bool setCurrentDirectory(const char* utf8Name)
{
    std::wstring name;
    return toWide(utf8Name, name) && SetCurrentDirectoryW(name.c_str());
}

bool getTempPath(std::string& utf8Out)
{
    utf8Out.clear();
    wchar_t buf[MAX_PATH + 2];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH + 1) return false;
    utf8Out = toUtf8(buf, n);
    return true;
}

bool getFullPathName(const char* utf8Name, std::string& utf8Out)
{
    utf8Out.clear();
    std::wstring name;
    if (!toWide(utf8Name, name)) return false;
    DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (n == 0) return false;
    std::wstring buf(n, L'\0');
    DWORD got = GetFullPathNameW(name.c_str(), n, buf.data(), nullptr);
    if (got == 0 || got >= n) return false;
    utf8Out = toUtf8(buf.data(), got);
    return true;
}

std::string lastErrorText()
{
    return systemErrorText(lastErrorCode());
}
void setLastErrorFileTooLarge()
{
    SetLastError(ERROR_FILE_TOO_LARGE);
}
void setLastErrorNoMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
}

void setStdStreamsBinary()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

FileHandle standardInput()
{
    HANDLE h = ::GetStdHandle(STD_INPUT_HANDLE);
    return h == INVALID_HANDLE_VALUE || h == nullptr ? kInvalidFile : reinterpret_cast<FileHandle>(h);
}

FileHandle standardOutput()
{
    HANDLE h = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return h == INVALID_HANDLE_VALUE || h == nullptr ? kInvalidFile : reinterpret_cast<FileHandle>(h);
}

}  // namespace platform

}  // namespace hanamail
