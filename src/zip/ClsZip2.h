#pragma once
#include <cstdint>

#include "foundation/ClsBase.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "zip/ZipEntryDn.h"

namespace hanamail {

class ClsZipEntry2;
class DataBuffer;
class LogBase;
class ZipSystem;

// A zip archive built in memory from named byte arrays. Reached through a
// ZipDn; it lives in, and is deleted by, its ZipSystem. Operations write into
// the archive's own activity log (getLog), or into the log a caller passes.
class ClsZip2 : public ClsBase {
public:
    explicit ClsZip2(ZipSystem* system);
    ClsZip2(const ClsZip2&) = delete;
    ClsZip2& operator=(const ClsZip2&) = delete;
    ~ClsZip2() override;

    // Adds a data entry holding a copy of the n bytes under the UTF-8 name,
    // at the end of the archive. A null handle when n is 0 or the name is
    // empty (also once made safe: "..", "C:\", "/").
    ZipEntryDn AppendData(const char* name, const void* bytes, uint32_t n, LogBase& log);
    ZipEntryDn AppendData(const char* name, const void* bytes, uint32_t n) { return AppendData(name, bytes, n, m_log); }
    // Adds an entry without bytes (an empty file).
    ZipEntryDn AppendEmpty(const char* name, LogBase& log);
    ZipEntryDn AppendEmpty(const char* name) { return AppendEmpty(name, m_log); }

    // Replaces out with the whole archive. False when an entry could not be
    // written, or when the archive needs more than classic zip headers hold.
    bool WriteToMemory(DataBuffer& out, LogBase& log);
    bool WriteToMemory(DataBuffer& out) { return WriteToMemory(out, m_log); }

    int32_t numEntries() const { return m_entries.getSize(); }
    ClsZipEntry2* entryAt(int32_t i) const;

    // Code page of stored names; the platform's OEM code page by default.
    int filenameCodePage() const { return m_filenameCodePage; }
    void setFilenameCodePage(int cp) { m_filenameCodePage = cp; }
    // Put in front of every entry name when written.
    const StringBuffer& pathPrefix() const { return m_pathPrefix; }
    void setPathPrefix(const char* prefix) { m_pathPrefix = prefix ? prefix : ""; }
    // Store entries under their last name segment only.
    bool discardPaths() const { return m_discardPaths; }
    void setDiscardPaths(bool on) { m_discardPaths = on; }

private:
    ZipEntryDn addEntry(const char* name, const void* bytes, uint32_t n, LogBase& log);

    ZipSystem* m_system;    // not counted: the registry owns this archive
    ExtPtrArray m_entries;  // in the order added; owned by the registry
    int m_filenameCodePage;
    StringBuffer m_pathPrefix;
    bool m_discardPaths = false;
};

}  // namespace hanamail
