#include "zip/ZipEntryDn.h"

#include "zip/ClsZipEntry2.h"
#include "zip/ZipSystem.h"

namespace hanamail {

ClsZipEntry2* ZipEntryDn::entry() const
{
    return m_system ? m_system->findEntry(m_id, m_index) : nullptr;
}

}  // namespace hanamail
