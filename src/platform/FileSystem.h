#pragma once
// Files and directories. Names are UTF-8; the Win32 side hands the system
// UTF-16 names. Every failing call leaves its reason in the thread's last
// error code (Platform.h), which lastErrorText() turns into the system's text.
#include <cstdint>
#include <string>

namespace hanamail {

namespace platform {

// A native handle (file descriptor or HANDLE); kInvalidFile marks a failed open.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

enum class FileOpenMode {
    Read,           // read; others may read; must exist; directories refused
    ReadDirectory,  // read; others may read; must exist; a directory is allowed
    Write,          // write; no sharing; always created, an existing file truncated
    ReadWrite,      // read and write; others may read; opened or created
    CreateNew,      // write; no sharing; created, never over an existing file or through a link
};

// Where another process holds the file without the sharing asked for (a
// sharing violation), the open is tried again every 50 ms, four attempts in all.
constexpr int kOpenAttempts = 4;
constexpr uint32_t kOpenRetryDelayMs = 50;

FileHandle openFile(const char* utf8Name, FileOpenMode mode);
// Leaves the last error code as it was, so a failure can still be reported after closing.
void closeFile(FileHandle h);
bool getFileSize(FileHandle h, uint64_t& size);
// Reads (writes) up to n bytes as one request; got (written) is what was done.
// Stops early only at the end of the file or on an error.
bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t& got);
bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t& written);

// Whether the last failed open found the name taken (CreateNew).
bool lastErrorWasFileExists();

bool deleteFile(const char* utf8Name);
// Replaces an existing target.
bool moveFile(const char* utf8From, const char* utf8To);
bool createDirectory(const char* utf8Name);
bool getCurrentDirectory(std::string& utf8Out);
bool setCurrentDirectory(const char* utf8Name);
// The temporary directory, ending with the separator.
bool getTempPath(std::string& utf8Out);
// The absolute form of a path, "." and ".." resolved; the file need not exist.
bool getFullPathName(const char* utf8Name, std::string& utf8Out);

// The system's message text for the last error code.
std::string lastErrorText();
// Set the last error code for failures found above the system calls.
void setLastErrorFileTooLarge();
void setLastErrorNoMemory();

// Standard input and output carry bytes unchanged (no line-end translation).
void setStdStreamsBinary();
// The process's standard input and output as file handles (not to be closed).
FileHandle standardInput();
FileHandle standardOutput();

}  // namespace platform

}  // namespace hanamail
