#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace hanamail {

namespace cli {

// The SHA-256 digest of the bytes as 64 lower-case hex digits: how the tool
// names an attachment's content for scripts that compare it.
std::string sha256Hex(const void* bytes, size_t n);

}  // namespace cli

}  // namespace hanamail
