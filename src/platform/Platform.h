#pragma once
// The operating-system services the system needs. Everything here has one
// POSIX implementation (platform/posix) and one Win32 implementation
// (platform/win32); no other folder calls the operating system.
#include <cstdint>
#include <string>

namespace hanamail {

namespace platform {

// Active code pages: on POSIX the ANSI code page is UTF-8 (65001) and the
// OEM code page 437; on Windows they come from the system.
int ansiCodePage();
int oemCodePage();

// The calling thread's last system error code, and the system's message
// text for a code (no inserts, neutral language), without trailing space.
uint32_t lastErrorCode();
void setLastErrorCode(uint32_t code);
std::string systemErrorText(uint32_t code);

// Milliseconds from an arbitrary start, monotonic; wraps at 32 bits.
uint32_t tickCount();
void sleepMs(uint32_t ms);

// The local host name (for Message-IDs and the SMTP greeting), or "unknown"
// when none can be had.
std::string localHostName();

// The value of an environment variable; false when it is not set.
bool environmentValue(const char* name, std::string& out);
// Whether standard error is a terminal (a progress display goes there only then).
bool standardErrorIsTerminal();

// A new random UUID (version 4 on POSIX), 16 bytes in the field order of a GUID.
struct Uuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
bool createUuid(Uuid& out);
// Upper-case string form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
std::string uuidToString(const Uuid& u);

}  // namespace platform

}  // namespace hanamail
