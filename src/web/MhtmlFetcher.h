#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"

namespace hanamail {

class DataBuffer;
class LogBase;

// What a fetch of one URL gave the capture.
struct MhtmlFetched {
    int32_t status = 0;
    StringBuffer charset;      // of the response's Content-Type, or empty
    StringBuffer contentType;  // the response's media type, lower case, or empty
    StringBuffer finalUrl;     // after redirects, without a user part
};

// Where a capture gets what it reads over HTTP. The capture owns nothing of
// it; tests and the fuzz target answer from memory.
class MhtmlFetcher {
public:
    virtual ~MhtmlFetcher() = default;
    // True for a complete response of any status. login and password (may be
    // null) are for the host and port of the first fetch only.
    virtual bool fetch(const char* url, const char* login, const char* password, DataBuffer& body, MhtmlFetched& got,
                       LogBase& log) = 0;
};

}  // namespace hanamail
