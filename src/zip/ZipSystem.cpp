#include "zip/ZipSystem.h"

#include <new>

#include "zip/ClsZip2.h"
#include "zip/ClsZipEntry2.h"

namespace hanamail {

namespace {
TembrixObject* findById(const ExtPtrArray& list, uint32_t id, int32_t& index)
{
    if (id == 0) return nullptr;
    TembrixObject* hinted = index >= 0 && index < list.getSize() ? list.get(index) : nullptr;
    if (hinted && hinted->serialNumber() == id) return hinted;
    for (int32_t i = 0; i < list.getSize(); ++i) {
        TembrixObject* p = list.get(i);
        if (p && p->serialNumber() == id) {
            index = i;
            return p;
        }
    }
    return nullptr;
}

bool add(ExtPtrArray& list, TembrixObject* p, int32_t& index)
{
    if (!p) return false;
    int n = list.append(p);
    if (n < 0) {
        delete p;
        return false;
    }
    index = n - 1;
    return true;
}
}  // namespace

ZipSystem* ZipSystem::createNew()
{
    return new (std::nothrow) ZipSystem();
}

ZipSystem::~ZipSystem()
{
    m_entries.removeAllObjects();
    m_archives.removeAllObjects();
}

void ZipSystem::release()
{
    if (--m_refCount <= 0) delete this;
}

bool ZipSystem::registerArchive(ClsZip2* zip, int32_t& index)
{
    return add(m_archives, zip, index);
}

bool ZipSystem::registerEntry(ClsZipEntry2* entry, int32_t& index)
{
    return add(m_entries, entry, index);
}

ClsZip2* ZipSystem::findArchive(uint32_t id, int32_t& index) const
{
    return static_cast<ClsZip2*>(findById(m_archives, id, index));
}

ClsZipEntry2* ZipSystem::findEntry(uint32_t id, int32_t& index) const
{
    return static_cast<ClsZipEntry2*>(findById(m_entries, id, index));
}

}  // namespace hanamail
