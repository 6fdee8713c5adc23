#pragma once
#include "foundation/StringBuffer.h"

namespace hanamail {

// Puts the process's current directory back when a capture (or one of its
// frames) is done, however it ends.
class DirectoryGuard {
public:
    DirectoryGuard();
    DirectoryGuard(const DirectoryGuard&) = delete;
    DirectoryGuard& operator=(const DirectoryGuard&) = delete;
    ~DirectoryGuard();

    bool change(const char* dir);
    const char* saved() const { return m_dir.getString(); }

private:
    StringBuffer m_dir;
    bool m_saved = false;
    bool m_changed = false;
};

}  // namespace hanamail
