#include "zip/ClsZipEntry2.h"

#include <new>

#include "foundation/LogBase.h"
#include "platform/DosTime.h"
#include "zip/AltData.h"
#include "zip/ClsZip2.h"
#include "zip/ZipBytes.h"
#include "zip/ZipCrc.h"
#include "zip/ZipDeflater.h"
#include "zip/ZipEntryName.h"
#include "zip/ZipLimits.h"

namespace hanamail {

using zipbytes::put16;
using zipbytes::put32;

namespace {
constexpr uint32_t kLocalSignature = 0x04034B50u;
constexpr uint32_t kCentralSignature = 0x02014B50u;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionMadeBy = 0;
// For UTF-8 names: host 14 (VFAT), version 6.3 (the first to define flag bit
// 11). Some unzip programs convert the names of host 0 archives from the OEM
// code page whatever the flag says, which garbles UTF-8 names.
constexpr uint16_t kVersionMadeByUtf8 = (14 << 8) | 63;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr uint32_t kExternalAttributes = 0x80;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;

ClsZipEntry2::WriteResult appendFailed(const DataBuffer& out, uint32_t n, LogBase& log)
{
    if (static_cast<uint64_t>(out.getSize()) + n > DataBuffer::kMaxSize) return ClsZipEntry2::WriteResult::kTooLarge;
    log.logError("Out of memory while writing Zip archive");
    return ClsZipEntry2::WriteResult::kFailed;
}
}  // namespace

ClsZipEntry2* ClsZipEntry2::createDataEntry(ClsZip2* archive, const StringBuffer& name, const void* bytes, uint32_t n)
{
    auto* entry = new (std::nothrow) ClsZipEntry2(archive, kDataEntry);
    if (!entry) return nullptr;
    entry->m_data = new (std::nothrow) AltData();
    if (!entry->m_data || !entry->m_data->setBytes(bytes, n) || !entry->m_name.append(name)) {
        delete entry;
        return nullptr;
    }
    return entry;
}

ClsZipEntry2::ClsZipEntry2(ClsZip2* archive, Kind kind) : m_kind(kind), m_archive(archive) {}

ClsZipEntry2::~ClsZipEntry2()
{
    delete m_data;
}

bool ClsZipEntry2::SetCompressionMethod(int method)
{
    if (!m_data || (method != AltData::kDeflate && method != AltData::kStored)) return false;
    m_data->method = static_cast<uint16_t>(method);
    return true;
}

bool ClsZipEntry2::SetCompressionLevel(int level)
{
    if (!m_data || level < 0 || level > 9) return false;
    m_data->level = level;
    return true;
}

bool ClsZipEntry2::buildStoredName()
{
    StringBuffer full;
    if (m_archive && !m_archive->pathPrefix().isEmpty()) full << m_archive->pathPrefix();
    full << m_name;
    StringBuffer safe;
    ZipEntryName::makeSafe(full.getString(), safe);
    if (m_archive && m_archive->discardPaths()) ZipEntryName::dropDirectories(safe);
    bool utf8 = false;
    m_storedName.clear();
    if (safe.isEmpty()) return true;
    if (!ZipEntryName::encode(safe, m_archive ? m_archive->filenameCodePage() : 0, m_storedName, utf8)) return false;
    m_flags = utf8 ? kUtf8NameFlag : 0;
    return true;
}

ClsZipEntry2::WriteResult ClsZipEntry2::writeLocal(DataBuffer& out, ZipDeflater& deflater, LogBase& log)
{
    m_localWritten = false;
    m_flags = 0;
    m_storedName.clear();
    if (m_name.isEmpty()) {
        log.logError("No filename while writing Zip data file entry");
        return WriteResult::kLeftOut;
    }
    if (!m_data) {
        log.logError("No data object while writing Zip data file entry");
        return WriteResult::kLeftOut;
    }
    if (!buildStoredName()) {
        log.logError("Out of memory while writing Zip archive");
        return WriteResult::kFailed;
    }
    if (m_storedName.getSize() == 0) {
        log.logError("No filename while writing Zip data file entry");
        return WriteResult::kLeftOut;
    }
    uint32_t nameLen = m_storedName.getSize();
    uint32_t size = m_data->size();
    uint32_t offset = out.getSize();
    if (!ZipLimits::nameFits(nameLen) || !ZipLimits::entryFits(offset, nameLen, size, 0)) return WriteResult::kTooLarge;

    // Taken once: writing the archive again keeps the entry's first stamp.
    if (!m_data->dateTimeSet) {
        platform::dosDateTimeNow(m_data->dosDate, m_data->dosTime);
        m_data->dateTimeSet = true;
    }
    m_method = size == 0 ? AltData::kStored : m_data->method;
    m_data->localHeaderOffset = offset;

    // Provisional header: the CRC and compressed size are known only after
    // the data, and go in below (no data descriptor is ever used).
    unsigned char h[kLocalHeaderSize];
    put32(h, kLocalSignature);
    put16(h + 4, kVersionNeeded);
    put16(h + 6, m_flags);
    put16(h + 8, m_method);
    put16(h + 10, m_data->dosTime);
    put16(h + 12, m_data->dosDate);
    put32(h + 14, 0);
    put32(h + 18, size);
    put32(h + 22, size);
    put16(h + 26, static_cast<uint16_t>(nameLen));
    put16(h + 28, 0);
    if (!out.append(h, kLocalHeaderSize)) return appendFailed(out, kLocalHeaderSize, log);
    if (!out.append(m_storedName)) return appendFailed(out, nameLen, log);

    uint32_t dataStart = out.getSize();
    if (size > 0) {
        if (m_method == AltData::kDeflate) {
            switch (deflater.deflateAll(m_data->bytes(), size, m_data->level, out)) {
                case ZipDeflater::Result::kOk: break;
                case ZipDeflater::Result::kTooLarge: return WriteResult::kTooLarge;
                case ZipDeflater::Result::kNoMemory: return appendFailed(out, 0, log);
                case ZipDeflater::Result::kFailed:
                    log.logError("Failed to compress Zip entry data");
                    return WriteResult::kFailed;
            }
        } else if (!out.append(m_data->bytes(), size)) {
            return appendFailed(out, size, log);
        }
    }
    uint32_t compressed = out.getSize() - dataStart;
    if (!ZipLimits::entryFits(offset, nameLen, size, compressed)) return WriteResult::kTooLarge;
    m_data->crc = size > 0 ? ZipCrc::of(m_data->bytes(), size) : 0;
    m_data->compressedSize = compressed;

    put32(h + 14, m_data->crc);
    put32(h + 18, compressed);
    unsigned char* base = out.getDataMutable();
    if (!base) return appendFailed(out, 0, log);
    for (uint32_t i = 0; i < kLocalHeaderSize; ++i) base[offset + i] = h[i];
    m_localWritten = true;
    return WriteResult::kWritten;
}

ClsZipEntry2::WriteResult ClsZipEntry2::writeCentral(DataBuffer& out, LogBase& log)
{
    if (m_storedName.getSize() == 0) {
        log.logError("No filename while writing Zip data directory entry");
        return WriteResult::kLeftOut;
    }
    if (!m_data) {
        log.logError("No data object while writing Zip data directory entry");
        return WriteResult::kLeftOut;
    }
    uint32_t nameLen = m_storedName.getSize();
    unsigned char h[kCentralHeaderSize];
    put32(h, kCentralSignature);
    put16(h + 4, (m_flags & kUtf8NameFlag) ? kVersionMadeByUtf8 : kVersionMadeBy);
    put16(h + 6, kVersionNeeded);
    put16(h + 8, m_flags);
    put16(h + 10, m_method);
    put16(h + 12, m_data->dosTime);
    put16(h + 14, m_data->dosDate);
    put32(h + 16, m_data->crc);
    put32(h + 20, m_data->compressedSize);
    put32(h + 24, m_data->size());
    put16(h + 28, static_cast<uint16_t>(nameLen));
    put16(h + 30, 0);
    put16(h + 32, 0);
    put16(h + 34, 0);
    put16(h + 36, m_data->internalAttributes);
    put32(h + 38, kExternalAttributes);
    put32(h + 42, m_data->localHeaderOffset);
    if (!ZipLimits::sizeFits(static_cast<uint64_t>(out.getSize()) + kCentralHeaderSize + nameLen))
        return WriteResult::kTooLarge;
    if (!out.append(h, kCentralHeaderSize)) return appendFailed(out, kCentralHeaderSize, log);
    if (!out.append(m_storedName)) return appendFailed(out, nameLen, log);
    return WriteResult::kWritten;
}

}  // namespace hanamail
