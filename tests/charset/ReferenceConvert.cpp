// The conversion engine the plain way, kept as the measure of its fast paths:
// every intermediate text is made whole, and UTF-8 and the tables are read
// and written one character at a time.
#include "charset/CodePageTable.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingConvertDetail.h"
#include "charset/Gb18030.h"
#include "charset/HzGb2312.h"
#include "charset/Japanese.h"
#include "charset/Korean.h"
#include "charset/ScratchOutput.h"
#include "charset/Utf16Codec.h"
#include "charset/Utf32Codec.h"
#include "charset/Utf7Codec.h"
#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

using namespace convertdetail;

namespace {

inline bool isCont(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// As in the engine: an intermediate text that could not be made whole is
// recorded in out, and the conversion gives false.
bool failedStep(const DataBuffer& step, DataBuffer& out)
{
    if (!step.hasFailed()) return false;
    out.markFailed(step.failure());
    return true;
}

bool putUnit(DataBuffer& out, uint32_t u)
{
    const unsigned char b[2] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8)};
    return out.append(b, 2);
}

bool plainFromUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    for (uint32_t i = 0; i < n;) {
        const unsigned c = s[i];
        const uint32_t left = n - i;
        if (c < 0x80) {
            if (!putUnit(out, c)) return false;
            ++i;
        } else if (c >= 0xC2 && c <= 0xDF && left >= 2 && isCont(s[i + 1])) {
            if (!putUnit(out, ((c & 0x1F) << 6) | (s[i + 1] & 0x3F))) return false;
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF && left >= 3 && isCont(s[i + 1]) && isCont(s[i + 2]) &&
                   (c != 0xE0 || s[i + 1] >= 0xA0)) {
            if (!putUnit(out, ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F))) return false;
            i += 3;
        } else if (c >= 0xF0 && c <= 0xF4 && left >= 4 && s[i + 1] >= (c == 0xF0 ? 0x90 : 0x80) &&
                   s[i + 1] <= (c == 0xF4 ? 0x8F : 0xBF) && isCont(s[i + 2]) && isCont(s[i + 3])) {
            const uint32_t cp =
                ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            if (!putUnit(out, 0xD800 + ((cp - 0x10000) >> 10)) || !putUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF)))
                return false;
            i += 4;
        } else {
            ++i;  // invalid or cut off: the first byte is lost
        }
    }
    return true;
}

bool plainToUtf8(const unsigned char* s, uint32_t n, DataBuffer& out)
{
    if (n == 0) return true;
    if (n < 2) return false;
    const uint32_t units = n / 2;
    for (uint32_t i = 0; i < units; ++i) {
        uint32_t u = s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
        unsigned char b[4];
        uint32_t len;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t v = s[2 * i + 2] | (uint32_t(s[2 * i + 3]) << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
                ++i;
            }
        }
        if (u < 0x80) {
            b[0] = static_cast<unsigned char>(u);
            len = 1;
        } else if (u < 0x800) {
            b[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
            b[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            len = 2;
        } else if (u < 0x10000) {
            b[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
            b[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            b[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            len = 3;
        } else {
            b[0] = static_cast<unsigned char>(0xF0 | (u >> 18));
            b[1] = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
            b[2] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            b[3] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            len = 4;
        }
        if (!out.append(b, len)) return false;
    }
    return n % 2 == 0;
}

}  // namespace

bool EncodingConvert::convertReference(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    m_secondStep = false;
    return referenceRun(fromCp, toCp, static_cast<const unsigned char*>(bytes), n, out);
}

bool EncodingConvert::referenceRun(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = toCp;
    if (p == nullptr || n == 0) return true;
    if (fromCp == toCp) return out.append(p, n);

    const Support from = support(fromCp);
    const Support to = support(toCp);
    if (from == Support::Unknown || to == Support::Unknown) return false;
    if (from == Support::NameOnly || to == Support::NameOnly) {
        // Better the text as it came than no text at all. False either way;
        // a failed copy is recorded in out.
        (void)out.append(p, n);
        return false;
    }

    // The 7-bit encodings are read into their 8-bit pivot and converted on from there.
    if (isIso2022Jp(fromCp)) {
        DataBuffer sjis;
        Japanese().jisToSjis(p, n, sjis);
        if (failedStep(sjis, out)) return false;
        return referenceRun(kShiftJis, toCp, sjis.getData(), sjis.getSize(), out);
    }
    if (fromCp == kIso2022Kr) {
        DataBuffer ks;
        Korean().iso2022krToKs(p, n, ks);
        if (failedStep(ks, out)) return false;
        return referenceRun(kUhc, toCp, ks.getData(), ks.getSize(), out);
    }

    if (toCp == kUtf7) {
        DataBuffer u16;
        if (fromCp != kUtf16) {
            if (!referenceRun(fromCp, kUtf16, p, n, u16)) {
                (void)failedStep(u16, out);
                return false;
            }
            p = u16.getData();
            n = u16.getSize();
        }
        return Utf7Codec::encode(p, n, out);
    }
    if (toCp == kUtf32 || toCp == kUtf32Be) {
        DataBuffer u8;
        if (fromCp != kUtf8) {
            if (!referenceRun(fromCp, kUtf8, p, n, u8)) {
                (void)failedStep(u8, out);
                return false;
            }
            p = u8.getData();
            n = u8.getSize();
        }
        return Utf32Codec::fromUtf8(p, n, toCp == kUtf32Be, out);
    }
    if (toCp == kUtf16Be) {
        // Any text fits UTF-16: only a broken unit of a UTF-16 source makes this false.
        DataBuffer u16;
        if (fromCp != kUtf16) {
            (void)referenceRun(fromCp, kUtf16, p, n, u16);  // lossy text goes on as converted
            if (failedStep(u16, out)) return false;
            p = u16.getData();
            n = u16.getSize();
        }
        return Utf16Codec::swapBytes(p, n, out);
    }
    if (isIso2022Jp(toCp)) {
        DataBuffer sjis;
        bool ok = true;
        if (fromCp != kShiftJis) {
            ok = referenceRun(fromCp, kShiftJis, p, n, sjis);
            if (failedStep(sjis, out)) return false;
            p = sjis.getData();
            n = sjis.getSize();
        }
        return Japanese().sjisToJis(p, n, out) && ok;
    }
    if (toCp == kIso2022Kr) {
        DataBuffer ks;
        bool ok = true;
        if (fromCp != kUhc) {
            ok = referenceRun(fromCp, kUhc, p, n, ks);
            if (failedStep(ks, out)) return false;
            p = ks.getData();
            n = ks.getSize();
        }
        return Korean().ksToIso2022kr(p, n, out) && ok;
    }
    return referenceGeneral(fromCp, toCp, p, n, out);
}

bool EncodingConvert::referenceGeneral(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    // Byte-order marks: only UTF-8 and UTF-16 sources are looked at.
    bool bigEndian = false;
    if (fromCp == kUtf8) {
        if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            p += 3;
            n -= 3;
        }
    } else if (fromCp == kUtf16 || fromCp == kUtf16Be) {
        bigEndian = fromCp == kUtf16Be;
        if (n >= 2 && ((p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE))) {
            bigEndian = p[0] == 0xFE;  // the mark wins over the declared order
            p += 2;
            n -= 2;
        }
        fromCp = kUtf16;
    }
    if (n == 0) return true;

    // Everything else is read as UTF-16LE or UTF-8.
    bool ok = true;
    bool normalised = true;
    DataBuffer norm;
    if (fromCp == kUtf16 && bigEndian) {
        ok = Utf16Codec::swapBytes(p, n, norm);
    } else if (fromCp == kUtf32 || fromCp == kUtf32Be) {
        ok = Utf32Codec::toUtf8(p, n, fromCp == kUtf32Be, norm);
        fromCp = kUtf8;
    } else if (fromCp == kUtf7) {
        ok = Utf7Codec::decode(p, n, norm);
        fromCp = kUtf16;
    } else {
        normalised = false;
    }
    if (normalised) {
        if (failedStep(norm, out)) return false;
        p = norm.getData();
        n = norm.getSize();
        if (n == 0) return ok;
    }

    if (fromCp == toCp) return out.append(p, n) && ok;
    if (fromCp == kUtf16 || toCp == kUtf16) return referenceStep(fromCp, toCp, p, n, out) && ok;

    DataBuffer mid;
    if (fromCp != kUtf8) {
        // Room up front, never past the size limit: the appends find out whether the text fits.
        const uint64_t want = 2 * uint64_t(n) + 4;
        const uint32_t limit = BufferLimit::maxBytes();
        if (!mid.ensureCapacity(want > limit ? limit : static_cast<uint32_t>(want))) {
            recordTooLarge(out);
            return false;
        }
    }
    // What the first step loses does not count: the result says whether the text fits the target.
    (void)referenceStep(fromCp, kUtf16, p, n, mid);
    if (failedStep(mid, out)) return false;
    m_secondStep = true;
    const bool fits = referenceStep(kUtf16, toCp, mid.getData(), mid.getSize(), out);
    m_secondStep = false;
    return fits && ok;
}

bool EncodingConvert::referenceStep(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = toCp;
    if (fromCp == kUtf16) {
        if (toCp == kUtf8) return plainToUtf8(p, n, out);
        if (toCp == kGb18030) return Gb18030::encode(p, n, out);
        if (toCp == kHzGb2312) return HzGb2312::encode(p, n, out);
        const CodePageTable* table = CodePageTable::forCodePage(toCp);
        return table != nullptr && table->encodeFromUtf16(p, n, out);
    }
    if (fromCp == kUtf8) return plainFromUtf8(p, n, out);
    if (fromCp == kGb18030) return Gb18030::decode(p, n, out);
    if (fromCp == kHzGb2312) return HzGb2312::decode(p, n, out);
    const CodePageTable* table = CodePageTable::forCodePage(fromCp);
    return table != nullptr && table->decodeToUtf16Plain(p, n, out);
}

}  // namespace hanamail
