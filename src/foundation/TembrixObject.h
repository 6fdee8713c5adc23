#pragma once
#include <atomic>
#include <cstdint>
#include "foundation/Api.h"

namespace hanamail {

// Common base of most objects: a virtual destructor and a serial number
// taken from one process-wide counter.
class TembrixObject {
public:
    HANAMAIL_API TembrixObject();
    HANAMAIL_API TembrixObject(const TembrixObject&);
    TembrixObject& operator=(const TembrixObject&) { return *this; }
    HANAMAIL_API virtual ~TembrixObject();

    uint32_t serialNumber() const { return m_serial; }

private:
    uint32_t m_serial;
};

}  // namespace hanamail
