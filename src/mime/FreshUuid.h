#pragma once
#include <string>

namespace hanamail {

// The identifiers this system makes up (boundaries, Message-IDs) start from a UUID.
class FreshUuid {
public:
    FreshUuid() = delete;

    // The 8-4-4-4-12 text of a fresh UUID. Without the system's random
    // source it is made from the tick count and a process-wide counter, so
    // one still differs from the last.
    static std::string text();
};

}  // namespace hanamail
