// Zip archives as written (the zip application note: local headers and the
// central directory; classic headers only, so an archive past 4 GiB or 65535
// entries is refused).
#include "zip/ClsZip2.h"

#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "platform/Platform.h"
#include "zip/ClsZipEntry2.h"
#include "zip/ZipBytes.h"
#include "zip/ZipDeflater.h"
#include "zip/ZipEntryName.h"
#include "zip/ZipLimits.h"
#include "zip/ZipSystem.h"

namespace hanamail {

using zipbytes::put16;
using zipbytes::put32;

namespace {
constexpr uint32_t kEndSignature = 0x06054B50u;
constexpr uint32_t kEndRecordSize = 22;

bool tooLarge(LogBase& log)
{
    log.logError("Zip archive too large");
    return false;
}
}  // namespace

ClsZip2::ClsZip2(ZipSystem* system) : m_system(system), m_filenameCodePage(platform::oemCodePage()) {}

ClsZip2::~ClsZip2()
{
    m_entries.removeAll();
}

ClsZipEntry2* ClsZip2::entryAt(int32_t i) const
{
    return static_cast<ClsZipEntry2*>(m_entries.get(i));
}

ZipEntryDn ClsZip2::AppendData(const char* name, const void* bytes, uint32_t n, LogBase& log)
{
    LogContextExit ctx(log, "AppendData");
    if (n == 0 || !bytes) {
        log.logError("Data length must be > 0");
        return ZipEntryDn();
    }
    return addEntry(name, bytes, n, log);
}

ZipEntryDn ClsZip2::AppendEmpty(const char* name, LogBase& log)
{
    LogContextExit ctx(log, "AppendEmpty");
    return addEntry(name, nullptr, 0, log);
}

ZipEntryDn ClsZip2::addEntry(const char* name, const void* bytes, uint32_t n, LogBase& log)
{
    StringBuffer safe;
    ZipEntryName::makeSafe(name, safe);
    if (safe.isEmpty()) {
        log.logError("No filename was provided");
        return ZipEntryDn();
    }
    ClsZipEntry2* entry = m_system ? ClsZipEntry2::createDataEntry(this, safe, bytes, n) : nullptr;
    int32_t index = -1;
    // The registry owns the entry from here on (and deletes it on failure).
    if (!entry || !m_system->registerEntry(entry, index) || m_entries.append(entry) < 0) {
        log.logError("Out of memory");
        return ZipEntryDn();
    }
    return ZipEntryDn(m_system, entry->serialNumber(), index);
}

bool ClsZip2::WriteToMemory(DataBuffer& out, LogBase& log)
{
    LogContextExit ctx(log, "WriteToMemory");
    out.clear();

    uint64_t toWrite = 0;
    for (int32_t i = 0; i < m_entries.getSize(); ++i) {
        ClsZipEntry2* e = entryAt(i);
        if (e && e->kind() != ClsZipEntry2::kRemovedEntry) ++toWrite;
    }
    if (!ZipLimits::entryCountFits(toWrite)) return tooLarge(log);

    bool allWritten = true;
    ZipDeflater deflater;
    for (int32_t i = 0; i < m_entries.getSize(); ++i) {
        ClsZipEntry2* e = entryAt(i);
        if (!e || e->kind() == ClsZipEntry2::kRemovedEntry) continue;
        switch (e->writeLocal(out, deflater, log)) {
            case ClsZipEntry2::WriteResult::kWritten: break;
            case ClsZipEntry2::WriteResult::kLeftOut: allWritten = false; break;
            case ClsZipEntry2::WriteResult::kTooLarge: return tooLarge(log);
            case ClsZipEntry2::WriteResult::kFailed: return false;
        }
    }

    uint32_t centralStart = out.getSize();
    uint32_t count = 0;
    for (int32_t i = 0; i < m_entries.getSize(); ++i) {
        ClsZipEntry2* e = entryAt(i);
        if (!e || e->kind() == ClsZipEntry2::kRemovedEntry || !e->localWritten()) continue;
        switch (e->writeCentral(out, log)) {
            case ClsZipEntry2::WriteResult::kWritten: ++count; break;
            case ClsZipEntry2::WriteResult::kLeftOut: break;
            case ClsZipEntry2::WriteResult::kTooLarge: return tooLarge(log);
            case ClsZipEntry2::WriteResult::kFailed: return false;
        }
    }
    uint32_t centralSize = out.getSize() - centralStart;

    unsigned char end[kEndRecordSize];
    put32(end, kEndSignature);
    put16(end + 4, 0);
    put16(end + 6, 0);
    put16(end + 8, static_cast<uint16_t>(count));  // at most 65535: checked above
    put16(end + 10, static_cast<uint16_t>(count));
    put32(end + 12, centralSize);
    put32(end + 16, centralStart);
    put16(end + 20, 0);
    if (!ZipLimits::sizeFits(static_cast<uint64_t>(out.getSize()) + kEndRecordSize) ||
        static_cast<uint64_t>(out.getSize()) + kEndRecordSize > DataBuffer::kMaxSize)
        return tooLarge(log);
    if (!out.append(end, kEndRecordSize)) {
        log.logError("Out of memory while writing Zip archive");
        return false;
    }
    return allWritten;
}

}  // namespace hanamail
