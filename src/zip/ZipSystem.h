#pragma once
#include <cstdint>

#include "foundation/ExtPtrArray.h"

namespace hanamail {

class ClsZip2;
class ClsZipEntry2;

// Owns every archive and entry reached through ZipDn / ZipEntryDn handles.
// Handles hold counted references; the registry and everything in it go
// when the last handle does. Not thread-safe: one component thread owns it.
class ZipSystem {
public:
    static ZipSystem* createNew();  // reference count 0; nullptr without memory
    ZipSystem(const ZipSystem&) = delete;
    ZipSystem& operator=(const ZipSystem&) = delete;

    void addRef() { ++m_refCount; }
    void release();

    // Take ownership; on failure the object is deleted and false returned.
    bool registerArchive(ClsZip2* zip, int32_t& index);
    bool registerEntry(ClsZipEntry2* entry, int32_t& index);

    // By identifier (serial number). index is a hint, updated when the object
    // has moved. nullptr when the object is not (or no longer) registered.
    ClsZip2* findArchive(uint32_t id, int32_t& index) const;
    ClsZipEntry2* findEntry(uint32_t id, int32_t& index) const;

    int32_t numArchives() const { return m_archives.getSize(); }
    int32_t numEntries() const { return m_entries.getSize(); }

private:
    ZipSystem() = default;
    ~ZipSystem();

    int32_t m_refCount = 0;
    ExtPtrArray m_archives;
    ExtPtrArray m_entries;
};

}  // namespace hanamail
