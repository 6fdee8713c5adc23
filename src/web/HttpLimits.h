#pragma once
#include <cstdint>

#include "smtp/TembrixSocket.h"

namespace hanamail {

// What one HTTP response may make the client read or do. A server that goes
// past one fails the fetch with a data line "limit" naming it.
struct HttpLimits {
    static constexpr uint32_t kMaxBody = 64u * 1024 * 1024;
    static constexpr uint32_t kMaxHeader = TembrixSocket::kMaxHeaderBlock;
    static constexpr uint32_t kMaxChunkLine = TembrixSocket::kMaxLine;
    // Retries and followed redirects of one fetch share this count.
    static constexpr int kMaxAttempts = 4;
};

}  // namespace hanamail
