#include "web/DirectoryGuard.h"

#include "foundation/FileSys.h"

namespace hanamail {

DirectoryGuard::DirectoryGuard()
{
    m_saved = FileSys::getCurrentDirectory(m_dir);
}

DirectoryGuard::~DirectoryGuard()
{
    if (m_saved && m_changed) (void)FileSys::setCurrentDirectory(m_dir.getString());
}

bool DirectoryGuard::change(const char* dir)
{
    // Without the directory to come back to, staying put is the safe choice.
    if (!m_saved) return false;
    m_changed = true;
    return FileSys::setCurrentDirectory(dir);
}

}  // namespace hanamail
