#include "charset/EncodingConvert.h"

#include "charset/CharsetCatalogue.h"
#include "charset/CodePageTable.h"
#include "charset/EncodingConvertDetail.h"
#include "charset/Gb18030.h"
#include "charset/HzGb2312.h"
#include "charset/Japanese.h"
#include "charset/Korean.h"
#include "charset/ScratchOutput.h"
#include "charset/Utf16Codec.h"
#include "charset/Utf32Codec.h"
#include "charset/Utf7Codec.h"
#include "charset/Utf8Scan.h"
#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"
#include "platform/Platform.h"

#include <cstring>

namespace hanamail {

using namespace convertdetail;

namespace {

bool isComputed(int cp)
{
    switch (cp) {
        case kUtf16:
        case kUtf16Be:
        case kUtf7:
        case kUtf8:
        case kUtf32:
        case kUtf32Be:
        case 50220:
        case 50221:
        case 50222:
        case kIso2022Kr:
        case kHzGb2312:
        case kGb18030: return true;
        default: return false;
    }
}

// Pivot text per piece: small enough to stay in the cache between the steps.
constexpr uint32_t kPivotPiece = 16 * 1024;

// Skips a leading UTF-8 byte-order mark, as reading UTF-8 does.
inline void skipUtf8Bom(const unsigned char*& p, uint32_t& n)
{
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        n -= 3;
    }
}

// Room up front; a guess, so none is asked for past the size limit (the
// pieces find out whether the text fits). False when the buffer cannot grow.
bool reserveMore(DataBuffer& out, uint64_t more)
{
    const uint64_t want = uint64_t(out.getSize()) + more;
    if (want > out.getCapacity() && want <= BufferLimit::maxBytes())
        return out.ensureCapacity(static_cast<uint32_t>(want));
    return true;
}

// An intermediate text that could not be made whole: the failure is
// recorded in out (as TooLarge, the one failure a DataBuffer can be made to
// record from outside), and the conversion gives false.
bool failedStep(const DataBuffer& step, DataBuffer& out)
{
    if (!step.hasFailed()) return false;
    out.markFailed(step.failure());
    return true;
}

}  // namespace

Support convertdetail::support(int cp)
{
    if (isComputed(cp) || CodePageTable::isTableCodePage(cp)) return Support::Converted;
    if (cp == 0) return Support::Unknown;
    if (preferredCharsetName(cp) != nullptr) return Support::NameOnly;
    // A few code pages are named without a preferred name (709, 50000, ...).
    const int count = charsetNameCount();
    for (int i = 0; i < count; ++i) {
        if (charsetNameAt(i).codePage == cp) return Support::NameOnly;
    }
    return Support::Unknown;
}

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
    if (fromCp == 0 || toCp == 0) return false;
    return convert(fromCp, toCp, bytes, n, out);
}

bool EncodingConvert::convertWithBom(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out)
{
    static const unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
    static const unsigned char kLeBom[] = {0xFF, 0xFE};
    static const unsigned char kBeBom[] = {0xFE, 0xFF};
    bool ok = true;
    if (toCp == kUtf8)
        ok = out.append(kUtf8Bom, 3);
    else if (toCp == kUtf16)
        ok = out.append(kLeBom, 2);
    else if (toCp == kUtf16Be)
        ok = out.append(kBeBom, 2);
    if (!ok) return false;
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
    // (The pivot itself as the target is a plain copy of the pivot text.)
    if ((isIso2022Jp(fromCp) || fromCp == kIso2022Kr) &&
        (toCp == kUtf8 || toCp == kUtf16 ||
         (CodePageTable::isTableCodePage(toCp) && toCp != (fromCp == kIso2022Kr ? kUhc : kShiftJis))))
        return fromSevenBit(fromCp, toCp, p, n, out);
    if (isIso2022Jp(fromCp)) {
        DataBuffer sjis;
        Japanese().jisToSjis(p, n, sjis);
        if (failedStep(sjis, out)) return false;
        return run(kShiftJis, toCp, sjis.getData(), sjis.getSize(), out);
    }
    if (fromCp == kIso2022Kr) {
        DataBuffer ks;
        Korean().iso2022krToKs(p, n, ks);
        if (failedStep(ks, out)) return false;
        return run(kUhc, toCp, ks.getData(), ks.getSize(), out);
    }

    if (toCp == kUtf7) {
        DataBuffer u16;
        if (fromCp != kUtf16) {
            if (!run(fromCp, kUtf16, p, n, u16)) {
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
            if (!run(fromCp, kUtf8, p, n, u8)) {
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
            (void)run(fromCp, kUtf16, p, n, u16);  // lossy text goes on as converted
            if (failedStep(u16, out)) return false;
            p = u16.getData();
            n = u16.getSize();
        }
        return Utf16Codec::swapBytes(p, n, out);
    }
    if ((isIso2022Jp(toCp) || toCp == kIso2022Kr) &&
        (fromCp == kUtf8 ||
         (CodePageTable::isTableCodePage(fromCp) && fromCp != (toCp == kIso2022Kr ? kUhc : kShiftJis))))
        return toSevenBit(fromCp, toCp, p, n, out);
    if (isIso2022Jp(toCp)) {
        DataBuffer sjis;
        bool ok = true;
        if (fromCp != kShiftJis) {
            ok = run(fromCp, kShiftJis, p, n, sjis);
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
            ok = run(fromCp, kUhc, p, n, ks);
            if (failedStep(ks, out)) return false;
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
    if (fromCp == kUtf16 || toCp == kUtf16) return oneStep(fromCp, toCp, p, n, out) && ok;

    return twoSteps(fromCp, toCp, p, n, out) && ok;
}

// UTF-8 or a table code page to UTF-8 or a table code page through UTF-16
// units, in one pass with no UTF-16 text in between. What the first step
// loses does not count: the result says whether the text fits the target.
bool EncodingConvert::twoSteps(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = kUtf16;
    if (isGbComputed(fromCp) || isGbComputed(toCp)) {
        // These have no tables to meet in: the UTF-16 text is made whole.
        DataBuffer mid;
        (void)oneStep(fromCp, kUtf16, p, n, mid);
        if (failedStep(mid, out)) return false;
        m_secondStep = true;
        const bool fits = oneStep(kUtf16, toCp, mid.getData(), mid.getSize(), out);
        m_secondStep = false;
        return fits;
    }
    const CodePageTable* from = fromCp == kUtf8 ? nullptr : CodePageTable::forCodePage(fromCp);
    const CodePageTable* to = toCp == kUtf8 ? nullptr : CodePageTable::forCodePage(toCp);
    bool fits = false;
    if (from == nullptr && to != nullptr)
        fits = fromCp == kUtf8 && to->encodeFromUtf8(p, n, out);
    else if (from != nullptr && to == nullptr)
        fits = toCp == kUtf8 && from->decodeToUtf8(p, n, out);
    else if (from != nullptr)
        fits = from->transcode(*to, p, n, out);
    m_stepFrom = kUtf16;
    m_stepTo = toCp;
    return fits;
}

bool EncodingConvert::fromSevenBit(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    const bool japanese = isIso2022Jp(fromCp);
    const int pivotCp = japanese ? kShiftJis : kUhc;
    const CodePageTable* pivot = CodePageTable::forCodePage(pivotCp);
    const CodePageTable* target = toCp == kUtf8 || toCp == kUtf16 ? nullptr : CodePageTable::forCodePage(toCp);
    if (pivot == nullptr || (target == nullptr && toCp != kUtf8 && toCp != kUtf16)) return false;
    m_stepFrom = pivotCp;
    m_stepTo = toCp;
    // A pivot byte gives at most three bytes of UTF-8, a unit of UTF-16 or two table bytes.
    if (!reserveMore(out, (toCp == kUtf8 ? uint64_t(n) * 3 / 2 : n) + 64)) return false;

    unsigned char piece[kPivotPiece];
    uint32_t kept = 0;  // pivot bytes carried over from the last piece
    uint32_t i = 0;
    bool jis = false;
    bool fits = true;
    utf8out::Writer writer{utf8out::wordTable(), nullptr};
    const Japanese jp;
    const Korean kr;
    for (;;) {
        unsigned char* d = piece + kept;
        if (i < n) {
            i = japanese ? jp.jisToSjisStep(p, i, n, d, kPivotPiece - kept, jis)
                         : kr.iso2022krToKsStep(p, i, n, d, kPivotPiece - kept, jis);
        }
        const uint32_t len = static_cast<uint32_t>(d - piece);
        const bool final = i >= n;
        // A last lead byte waits for the next piece: the pivot is read as one text.
        const uint32_t limit = !final && len > 0 && pivot->mayPairWithNext(piece[len - 1]) ? len - 1 : len;
        uint32_t used = 0;
        const uint64_t units = uint64_t(len) + CodePageTable::kStepSlack;
        if (toCp == kUtf8) {
            writer.d = appendRoom(out, 3 * units + 4);
            if (writer.d == nullptr) return false;
            used = pivot->decodeToUtf8Step(piece, 0, limit, len, writer);
            if (final) writer.finish();
            if (!appendCommit(out, writer.d)) return false;
        } else {
            unsigned char* w = appendRoom(out, 2 * units);
            if (w == nullptr) return false;
            used = target == nullptr ? pivot->decodeToUtf16Step(piece, 0, limit, len, w, fits)
                                     : pivot->transcodeStep(*target, piece, 0, limit, len, w, fits);
            if (!appendCommit(out, w)) return false;
        }
        if (final) break;
        kept = len - used;
        if (kept != 0) std::memmove(piece, piece + used, kept);
    }
    if (toCp != kUtf16) {
        m_stepFrom = kUtf16;
        m_stepTo = toCp;
    }
    return fits;
}

bool EncodingConvert::toSevenBit(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    const bool japanese = isIso2022Jp(toCp);
    const int pivotCp = japanese ? kShiftJis : kUhc;
    const CodePageTable* pivot = CodePageTable::forCodePage(pivotCp);
    const CodePageTable* source = fromCp == kUtf8 ? nullptr : CodePageTable::forCodePage(fromCp);
    if (pivot == nullptr || (source == nullptr && fromCp != kUtf8)) return false;
    if (source == nullptr) skipUtf8Bom(p, n);
    m_stepFrom = fromCp;
    m_stepTo = kUtf16;
    if (!reserveMore(out, uint64_t(n) + n / 4 + 16)) return false;

    // Input taken per piece: its pivot bytes (two per unit at most) and a
    // carried byte fit the piece buffer.
    constexpr uint32_t kInput = kPivotPiece / 2 - CodePageTable::kStepSlack - 1;
    unsigned char piece[kPivotPiece];
    uint32_t kept = 0;
    uint32_t i = 0;
    bool fits = true;  // of the conversion into the pivot
    Japanese::EncodeState jisState;
    Korean::EncodeState krState;
    const Japanese jp;
    const Korean kr;
    for (;;) {
        unsigned char* d = piece + kept;
        if (i < n) {
            const uint32_t limit = n - i > kInput ? i + kInput : n;
            i = source == nullptr ? pivot->encodeFromUtf8Step(p, i, limit, n, d, fits)
                                  : source->transcodeStep(*pivot, p, i, limit, n, d, fits);
        }
        const uint32_t len = static_cast<uint32_t>(d - piece);
        const bool final = i >= n;
        const uint32_t used = japanese ? jp.sjisToJisPiece(piece, len, final, jisState, out)
                                       : kr.ksToIso2022krPiece(piece, len, final, krState, out);
        if (final) break;
        kept = len - used;
        if (kept != 0) std::memmove(piece, piece + used, kept);
    }
    // As after the conversion into the pivot, the last step through UTF-16.
    m_stepFrom = kUtf16;
    m_stepTo = pivotCp;
    return (japanese ? jisState.ok : krState.ok) && fits;
}

bool EncodingConvert::oneStep(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out)
{
    m_stepFrom = fromCp;
    m_stepTo = toCp;
    if (fromCp == kUtf16) {
        if (toCp == kUtf8) return Utf16Codec::toUtf8(p, n, out);
        if (toCp == kGb18030) return Gb18030::encode(p, n, out);
        if (toCp == kHzGb2312) return HzGb2312::encode(p, n, out);
        const CodePageTable* table = CodePageTable::forCodePage(toCp);
        return table != nullptr && table->encodeFromUtf16(p, n, out);
    }
    if (fromCp == kUtf8) return Utf16Codec::fromUtf8(p, n, out);
    if (fromCp == kGb18030) return Gb18030::decode(p, n, out);
    if (fromCp == kHzGb2312) return HzGb2312::decode(p, n, out);
    const CodePageTable* table = CodePageTable::forCodePage(fromCp);
    return table != nullptr && table->decodeToUtf16(p, n, out);
}

}  // namespace hanamail
