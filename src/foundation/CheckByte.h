#pragma once

// A wrong check byte marks a destroyed or overwritten object: a programming
// error. Debug and sanitizer builds stop there; release builds refuse to
// touch the object (the operation does nothing and returns its neutral value).

namespace hanamail {

[[noreturn]] void checkByteFailed(const char* typeName, unsigned value);

#ifdef NDEBUG
#define HM_ALIVE(byte, expected, typeName) ((byte) == (expected))
#else
#define HM_ALIVE(byte, expected, typeName) \
    ((byte) == (expected) ? true : (checkByteFailed(typeName, static_cast<unsigned>(byte)), false))
#endif

}  // namespace hanamail
