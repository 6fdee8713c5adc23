#pragma once
#include <cstddef>

namespace hanamail {

// Where a writer sends MIME text as it goes, so that a large email never
// needs to be held whole in memory (a file, standard output, a socket).
class MimeSink {
public:
    virtual ~MimeSink() = default;
    // False when the bytes could not all be taken; the writer then stops.
    virtual bool write(const char* bytes, size_t n) = 0;
};

}  // namespace hanamail
