#include "charset/EncodingConvert.h"

#include "charset/CharsetCatalogue.h"
#include "charset/CodePageTable.h"
#include "charset/Japanese.h"
#include "charset/Korean.h"
#include "charset/Utf16Codec.h"
#include "charset/Utf32Codec.h"
#include "charset/Utf7Codec.h"
#include "foundation/DataBuffer.h"
#include "platform/Platform.h"

namespace {

constexpr int kUtf16 = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kUtf7 = 65000;
constexpr int kUtf8 = 65001;
constexpr int kUtf32 = 65005;
constexpr int kUtf32Be = 65006;
constexpr int kShiftJis = 932;
constexpr int kUhc = 949;
constexpr int kIso2022Kr = 50225;

inline bool isIso2022Jp(int cp) { return cp >= 50220 && cp <= 50222; }

bool isComputed(int cp)
{
    switch (cp) {
        case kUtf16: case kUtf16Be: case kUtf7: case kUtf8: case kUtf32: case kUtf32Be:
        case 50220: case 50221: case 50222: case kIso2022Kr:
            return true;
        default:
            return false;
    }
}

enum class Support { Unknown, NameOnly, Converted };

Support support(int cp)
{
    if (isComputed(cp) || CodePageTable::isTableCodePage(cp))
        return Support::Converted;
    if (cp == 0)
        return Support::Unknown;
    if (preferredCharsetName(cp) != nullptr)
        return Support::NameOnly;
    // A few code pages are named without a preferred name (709, 50000, ...).
    const int count = charsetNameCount();
    for (int i = 0; i < count; ++i) {
        if (charsetNameAt(i).codePage == cp)
            return Support::NameOnly;
    }
    return Support::Unknown;
}

}  // namespace

bool EncodingConvert::canConvert(int cp)
{
    return support(cp) == Support::Converted;
}

bool EncodingConvert::convert(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    m_secondStep = false;
    return run(fromCp, toCp, static_cast<const unsigned char*>(bytes), n, out);
}

bool EncodingConvert::convertByName(const char* fromCharset, const char* toCharset, const void* bytes, uint32_t n,
                                    DataBuffer& out)
{
    const int fromCp = charsetToCodePage(fromCharset);
    const int toCp = charsetToCodePage(toCharset);
    if (fromCp == 0 || toCp == 0)
        return false;
    return convert(fromCp, toCp, bytes, n, out);
}

bool EncodingConvert::convertWithBom(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    static const unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
    static const unsigned char kLeBom[] = {0xFF, 0xFE};
    static const unsigned char kBeBom[] = {0xFE, 0xFF};
    if (toCp == kUtf8)
        out.append(kUtf8Bom, 3);
    else if (toCp == kUtf16)
        out.append(kLeBom, 2);
    else if (toCp == kUtf16Be)
        out.append(kBeBom, 2);
    return convert(fromCp, toCp, bytes, n, out);
}

bool EncodingConvert::convertFromAnsi(int toCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    return convert(platform::ansiCodePage(), toCp, bytes, n, out);
}

bool EncodingConvert::convertToAnsi(int fromCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    return convert(fromCp, platform::ansiCodePage(), bytes, n, out);
}

bool EncodingConvert::run(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = toCp;
    if (p == nullptr || n == 0)
        return true;
    if (fromCp == toCp)
        return out.append(p, n);

    const Support from = support(fromCp);
    const Support to = support(toCp);
    if (from == Support::Unknown || to == Support::Unknown)
        return false;
    if (from == Support::NameOnly || to == Support::NameOnly) {
        // Better the text as it came than no text at all.
        out.append(p, n);
        return false;
    }

    // The 7-bit encodings are read into their 8-bit pivot and converted on from there.
    if (isIso2022Jp(fromCp)) {
        DataBuffer sjis;
        Japanese().jisToSjis(p, n, sjis);
        return run(kShiftJis, toCp, sjis.getData(), sjis.getSize(), out);
    }
    if (fromCp == kIso2022Kr) {
        DataBuffer ks;
        Korean().iso2022krToKs(p, n, ks);
        return run(kUhc, toCp, ks.getData(), ks.getSize(), out);
    }

    if (toCp == kUtf7) {
        DataBuffer u16;
        if (fromCp != kUtf16) {
            if (!run(fromCp, kUtf16, p, n, u16))
                return false;
            p = u16.getData();
            n = u16.getSize();
        }
        return Utf7Codec::encode(p, n, out);
    }
    if (toCp == kUtf32 || toCp == kUtf32Be) {
        DataBuffer u8;
        if (fromCp != kUtf8) {
            if (!run(fromCp, kUtf8, p, n, u8))
                return false;
            p = u8.getData();
            n = u8.getSize();
        }
        return Utf32Codec::fromUtf8(p, n, toCp == kUtf32Be, out);
    }
    if (toCp == kUtf16Be) {
        // Any text fits UTF-16: only a broken unit of a UTF-16 source makes this false.
        DataBuffer u16;
        if (fromCp != kUtf16) {
            run(fromCp, kUtf16, p, n, u16);
            p = u16.getData();
            n = u16.getSize();
        }
        return Utf16Codec::swapBytes(p, n, out);
    }
    if (isIso2022Jp(toCp)) {
        DataBuffer sjis;
        bool ok = true;
        if (fromCp != kShiftJis) {
            ok = run(fromCp, kShiftJis, p, n, sjis);
            p = sjis.getData();
            n = sjis.getSize();
        }
        return Japanese().sjisToJis(p, n, out) && ok;
    }
    if (toCp == kIso2022Kr) {
        DataBuffer ks;
        bool ok = true;
        if (fromCp != kUhc) {
            ok = run(fromCp, kUhc, p, n, ks);
            p = ks.getData();
            n = ks.getSize();
        }
        return Korean().ksToIso2022kr(p, n, out) && ok;
    }
    return general(fromCp, toCp, p, n, out);
}

bool EncodingConvert::general(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
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
    if (n == 0)
        return true;

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
        p = norm.getData();
        n = norm.getSize();
        if (n == 0)
            return ok;
    }

    if (fromCp == toCp)
        return out.append(p, n) && ok;
    if (fromCp == kUtf16 || toCp == kUtf16)
        return oneStep(fromCp, toCp, p, n, out) && ok;

    DataBuffer mid;
    if (fromCp != kUtf8)
        mid.ensureCapacity(n > (DataBuffer::kMaxSize - 4) / 2 ? DataBuffer::kMaxSize : 2 * n + 4);
    // What the first step loses does not count: the result says whether the text fits the target.
    oneStep(fromCp, kUtf16, p, n, mid);
    m_secondStep = true;
    const bool fits = oneStep(kUtf16, toCp, mid.getData(), mid.getSize(), out);
    m_secondStep = false;
    return fits && ok;
}

bool EncodingConvert::oneStep(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = toCp;
    if (fromCp == kUtf16) {
        if (toCp == kUtf8)
            return Utf16Codec::toUtf8(p, n, out);
        const CodePageTable* table = CodePageTable::forCodePage(toCp);
        return table != nullptr && table->encodeFromUtf16(p, n, out);
    }
    if (fromCp == kUtf8)
        return Utf16Codec::fromUtf8(p, n, out);
    const CodePageTable* table = CodePageTable::forCodePage(fromCp);
    return table != nullptr && table->decodeToUtf16(p, n, out);
}
