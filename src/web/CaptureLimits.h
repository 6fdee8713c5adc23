#pragma once
#include <cstdint>

namespace hanamail {

// What one page capture may do, whatever the pages ask for. Going past one
// is logged with a data line "limit" naming it; the capture goes on without
// what did not fit.
struct CaptureLimits {
    static constexpr int kMaxFrameDepth = 8;
    static constexpr int kMaxIncludeDepth = 16;
    static constexpr int kMaxImportDepth = 8;
    static constexpr int kMaxResources = 2000;
    static constexpr uint64_t kMaxCaptureBytes = 256ull * 1024 * 1024;
    // One file resource, as for one HTTP body.
    static constexpr uint32_t kMaxFileBytes = 64u * 1024 * 1024;
};

}  // namespace hanamail
