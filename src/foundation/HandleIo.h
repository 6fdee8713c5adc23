#pragma once
#include <cstdint>

#include "platform/FileSystem.h"

namespace hanamail {

class DataBuffer;

// Whole-stream reads and writes on an open handle: a regular file, a pipe, a
// terminal or a special file alike.
class HandleIo {
public:
    HandleIo() = delete;

    // Appends everything up to the end of the stream. A file that reports its
    // size is read into one allocation of that size; a stream that does not
    // (a pipe, a /proc file) or that grew meanwhile is read on, the buffer
    // growing geometrically. False on a read error or when the bytes do not
    // fit (out.failure() then says why; the bytes read so far stay).
    static bool readToEnd(platform::FileHandle h, DataBuffer& out);

    // Writes all n bytes, as few requests as the system allows.
    static bool writeAll(platform::FileHandle h, const void* bytes, uint64_t n);
};

}  // namespace hanamail
