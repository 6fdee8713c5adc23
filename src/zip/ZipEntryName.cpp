// Names of zip entries: code page 437 or UTF-8 with general-purpose flag bit
// 11 (the zip application note, appendix D).
#include "zip/ZipEntryName.h"

#include <cstring>

#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

// One character of UTF-8 at p (n > 0 bytes): its code point and length.
// Surrogate code points are accepted here; the caller pairs them.
bool decodeUtf8(const unsigned char* p, uint32_t n, uint32_t& cp, uint32_t& len)
{
    unsigned char b = p[0];
    uint32_t min = 0;
    if (b < 0x80) {
        cp = b, len = 1;
        return true;
    }
    if (b >= 0xC2 && b <= 0xDF)
        cp = b & 0x1F, len = 2, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF)
        cp = b & 0x0F, len = 3, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4)
        cp = b & 0x07, len = 4, min = 0x10000;
    else
        return false;
    if (n < len) return false;
    for (uint32_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return cp >= min && cp <= 0x10FFFF;
}

void appendUtf8(uint32_t cp, DataBuffer& out)
{
    unsigned char b[4];
    uint32_t n;
    if (cp < 0x80) {
        b[0] = static_cast<unsigned char>(cp), n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6)), n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12)), n = 3;
    } else {
        b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18)), n = 4;
    }
    for (uint32_t i = 1; i < n; ++i) b[i] = static_cast<unsigned char>(0x80 | ((cp >> (6 * (n - 1 - i))) & 0x3F));
    (void)out.append(b, n);  // a failure stays recorded in out, which the caller checks
}

// Strict UTF-8 for the flagged form: readers reject anything else (Python's
// zipfile cannot open the archive at all). Characters beyond U+FFFF may
// arrive as two 3-byte surrogates, which the converter writes; they are
// joined. False when the name is not UTF-8.
bool toStrictUtf8(const unsigned char* p, uint32_t n, DataBuffer& out)
{
    uint32_t i = 0;
    while (i < n) {
        uint32_t cp = 0, len = 0;
        if (!decodeUtf8(p + i, n - i, cp, len)) return false;
        i += len;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (i >= n || !decodeUtf8(p + i, n - i, low, len) || low < 0xDC00 || low > 0xDFFF) return false;
            i += len;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(cp, out);
    }
    return !out.hasFailed();
}

bool isDrivePrefix(const char* seg, size_t n)
{
    return n >= 2 && seg[1] == ':' && ((seg[0] >= 'A' && seg[0] <= 'Z') || (seg[0] >= 'a' && seg[0] <= 'z'));
}
}  // namespace

void ZipEntryName::makeSafe(const char* utf8, StringBuffer& out)
{
    out.clear();
    if (!utf8) return;
    bool first = true;
    const char* p = utf8;
    while (*p) {
        const char* start = p;
        while (*p && *p != '/' && *p != '\\') ++p;
        size_t n = static_cast<size_t>(p - start);
        if (first && isDrivePrefix(start, n)) {
            start += 2;
            n -= 2;
        }
        first = false;
        bool dots = (n == 1 && start[0] == '.') || (n == 2 && start[0] == '.' && start[1] == '.');
        if (n > 0 && !dots) {
            if (!out.isEmpty()) out << '/';
            out << std::string_view(start, static_cast<size_t>(n));
        }
        if (*p) ++p;
    }
}

void ZipEntryName::dropDirectories(StringBuffer& name)
{
    const char* s = name.getString();
    const char* slash = std::strrchr(s, '/');
    if (slash) {
        StringBuffer last(slash + 1);
        name = last;
    }
}

bool ZipEntryName::encode(const StringBuffer& utf8, int codePage, DataBuffer& out, bool& utf8Flag)
{
    out.clear();
    utf8Flag = false;
    const char* s = utf8.getString();
    uint32_t n = static_cast<uint32_t>(utf8.getSize());
    if (codePage != kUtf8) {
        // A name that does not read back the same (characters dropped, or
        // best-fit substitutes) would extract under another name, or collide.
        EncodingConvert ec;
        DataBuffer back;
        if (ec.convert(kUtf8, codePage, s, n, out) && ec.convert(codePage, kUtf8, out.getData(), out.getSize(), back) &&
            back.getSize() == n && (n == 0 || std::memcmp(back.getData(), s, n) == 0))
            return true;
        out.clear();
    }
    if (utf8.isAllAscii()) return out.append(s, n);
    // Strict UTF-8 is never longer than its input: no append below can fail.
    if (!out.ensureCapacity(n)) return false;
    if (toStrictUtf8(reinterpret_cast<const unsigned char*>(s), n, out)) {
        utf8Flag = true;
        return true;
    }
    // Not UTF-8 at all: the bytes as they are, unflagged, keep the archive
    // readable and the name distinct.
    out.clear();
    return out.append(s, n);
}

}  // namespace hanamail
