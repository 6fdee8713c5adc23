#include "tools/cli/CliIo.h"

#include <cstdio>

#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "platform/FileSystem.h"

namespace hanamail {

namespace cli {

bool readStandardInput(DataBuffer& out)
{
    return HandleIo::readToEnd(platform::standardInput(), out);
}

bool writeStandardOutput(const void* bytes, uint64_t n)
{
    if (std::fflush(stdout) != 0) return false;
    return HandleIo::writeAll(platform::standardOutput(), bytes, n);
}

}  // namespace cli

}  // namespace hanamail
