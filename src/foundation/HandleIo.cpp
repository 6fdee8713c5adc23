#include "foundation/HandleIo.h"

#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {
// One request reads or writes at most this much, so sizes stay 32-bit.
constexpr uint32_t kMaxRequest = 1u << 30;
// What is read at a time once the buffer is full, to learn whether the stream has ended.
constexpr uint32_t kProbe = 64 * 1024;
}  // namespace

bool HandleIo::readToEnd(platform::FileHandle h, DataBuffer& out)
{
    if (h == platform::kInvalidFile) return false;
    uint64_t reported = 0;
    if (platform::getFileSize(h, reported) && reported > 0) {
        if (out.getSize() + reported > BufferLimit::maxBytes()) {
            out.markFailed(BufferFailure::TooLarge);
            return false;
        }
        if (!out.ensureCapacity(static_cast<uint32_t>(out.getSize() + reported))) return false;
    }
    for (;;) {
        const uint32_t size = out.getSize();
        const uint32_t room = out.getCapacity() - size;
        if (room == 0) {
            unsigned char probe[kProbe];
            uint32_t got = 0;
            if (!platform::readFile(h, probe, kProbe, got)) return false;
            if (got == 0) return true;
            if (!out.append(probe, got)) return false;
            continue;
        }
        const uint32_t want = room < kMaxRequest ? room : kMaxRequest;
        uint32_t got = 0;
        const bool ok = platform::readFile(h, out.getDataMutable() + size, want, got);
        (void)out.setSize(size + got);  // within the capacity by construction
        if (!ok) return false;
        if (got < want) return true;  // a request comes back short only at the end
    }
}

bool HandleIo::writeAll(platform::FileHandle h, const void* bytes, uint64_t n)
{
    if (h == platform::kInvalidFile) return false;
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
        const uint32_t want = n < kMaxRequest ? static_cast<uint32_t>(n) : kMaxRequest;
        uint32_t written = 0;
        if (!platform::writeFile(h, p, want, written) || written != want) return false;
        p += want;
        n -= want;
    }
    return true;
}

}  // namespace hanamail
