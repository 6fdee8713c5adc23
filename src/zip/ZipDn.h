#pragma once
#include "zip/ZipHandle.h"

namespace hanamail {

class ClsZip2;

// Handle of one archive. It never dangles: archive() gives nullptr once the
// archive is gone, and while the handle lives its registry does.
class ZipDn : public ZipHandle {
public:
    ZipDn() = default;
    ZipDn(ZipSystem* system, uint32_t id, int32_t index) : ZipHandle(system, id, index) {}

    // A new registry holding one new, empty archive; a null handle when
    // memory runs out.
    static ZipDn createNewArchive();

    ClsZip2* archive() const;
};

}  // namespace hanamail
