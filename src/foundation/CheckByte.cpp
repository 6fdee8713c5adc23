#include "foundation/CheckByte.h"

#include <cstdio>
#include <cstdlib>

namespace hanamail {

void checkByteFailed(const char* typeName, unsigned value)
{
    std::fprintf(stderr, "hanamail: operation on a destroyed or overwritten %s (check byte 0x%02X)\n", typeName, value);
    std::abort();
}

}  // namespace hanamail
