#pragma once
#include <cstdint>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class AltData;
class ClsZip2;
class LogBase;
class ZipDeflater;

// One entry of an archive. Only data entries (a copy of caller bytes) are
// made; the other kind numbers stay reserved for entries of other sources.
class ClsZipEntry2 : public TembrixObject {
public:
    enum Kind : uint8_t { kOpenedEntry = 0, kFileEntry = 1, kDataEntry = 2, kRemovedEntry = 3 };
    enum class WriteResult { kWritten, kLeftOut, kTooLarge, kFailed };

    // A data entry named name (already made safe) with a copy of the bytes;
    // nullptr without memory.
    static ClsZipEntry2* createDataEntry(ClsZip2* archive, const StringBuffer& name, const void* bytes, uint32_t n);

    ClsZipEntry2(ClsZip2* archive, Kind kind);
    ClsZipEntry2(const ClsZipEntry2&) = delete;
    ClsZipEntry2& operator=(const ClsZipEntry2&) = delete;
    ~ClsZipEntry2() override;

    Kind kind() const { return m_kind; }
    const StringBuffer& name() const { return m_name; }
    ClsZip2* archive() const { return m_archive; }
    AltData* data() const { return m_data; }

    // 8 deflate or 0 stored; anything else is refused (false).
    bool SetCompressionMethod(int method);
    // Deflate level 0 to 9; anything else is refused (false).
    bool SetCompressionLevel(int level);

    // Writing, driven by ClsZip2::WriteToMemory: the local header, name and
    // data at the end of out, then (for entries whose local part was written)
    // the central directory header.
    WriteResult writeLocal(DataBuffer& out, ZipDeflater& deflater, LogBase& log);
    WriteResult writeCentral(DataBuffer& out, LogBase& log);
    bool localWritten() const { return m_localWritten; }
    // The name bytes of the last write and whether they are UTF-8 (flag bit 11).
    const DataBuffer& storedName() const { return m_storedName; }
    uint16_t generalFlags() const { return m_flags; }

private:
    bool buildStoredName();

    Kind m_kind;
    StringBuffer m_name;
    ClsZip2* m_archive;  // not owned: the registry owns both
    AltData* m_data = nullptr;

    DataBuffer m_storedName;
    uint16_t m_flags = 0;
    uint16_t m_method = 0;
    bool m_localWritten = false;
};

}  // namespace hanamail
