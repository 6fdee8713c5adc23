#include "zip/ZipDn.h"

#include <new>

#include "zip/ClsZip2.h"
#include "zip/ZipSystem.h"

namespace hanamail {

ZipDn ZipDn::createNewArchive()
{
    ZipSystem* system = ZipSystem::createNew();
    if (!system) return ZipDn();
    ClsZip2* zip = new (std::nothrow) ClsZip2(system);
    uint32_t id = zip ? zip->serialNumber() : 0;
    int32_t index = -1;
    if (!system->registerArchive(zip, index)) {
        system->addRef();
        system->release();
        return ZipDn();
    }
    return ZipDn(system, id, index);
}

ClsZip2* ZipDn::archive() const
{
    return m_system ? m_system->findArchive(m_id, m_index) : nullptr;
}

}  // namespace hanamail
