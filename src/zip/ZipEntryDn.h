#pragma once
#include "zip/ZipHandle.h"

namespace hanamail {

class ClsZipEntry2;

// Handle of one entry; like ZipDn it keeps the registry alive.
class ZipEntryDn : public ZipHandle {
public:
    ZipEntryDn() = default;
    ZipEntryDn(ZipSystem* system, uint32_t id, int32_t index) : ZipHandle(system, id, index) {}

    ClsZipEntry2* entry() const;
};

}  // namespace hanamail
