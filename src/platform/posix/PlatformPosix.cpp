#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "platform/Platform.h"
#include "platform/UuidFormat.h"

namespace hanamail {

namespace platform {

// Text of the flat functions is UTF-8 on POSIX hosts.
int ansiCodePage()
{
    return 65001;
}
int oemCodePage()
{
    return 437;
}

uint32_t lastErrorCode()
{
    return static_cast<uint32_t>(errno);
}
void setLastErrorCode(uint32_t code)
{
    errno = static_cast<int>(code);
}

namespace {
// strerror_r comes in two flavours; both overloads end up with the text.
[[maybe_unused]] const char* pickText(int rc, const char* buf)
{
    return rc == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char* pickText(const char* text, const char*)
{
    return text;
}
}  // namespace

std::string systemErrorText(uint32_t code)
{
    char buf[256];
    buf[0] = '\0';
    std::string text = pickText(strerror_r(static_cast<int>(code), buf, sizeof buf), buf);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

uint32_t tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void sleepMs(uint32_t ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::string localHostName()
{
    char name[256];
    if (gethostname(name, sizeof name) != 0) return "unknown";
    name[sizeof name - 1] = '\0';
    return name[0] ? std::string(name) : std::string("unknown");
}

bool createUuid(Uuid& out)
{
    unsigned char b[16];
    size_t got = 0;
    while (got < sizeof b) {
        ssize_t n = getrandom(b + got, sizeof b - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    out.data1 = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    out.data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
    out.data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
    std::memcpy(out.data4, b + 8, 8);
    return true;
}

bool environmentValue(const char* name, std::string& out)
{
    const char* v = std::getenv(name);
    if (!v) return false;
    out = v;
    return true;
}

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace platform

std::string platform::uuidToString(const Uuid& u)
{
    return formatUuid(u);
}

}  // namespace hanamail
