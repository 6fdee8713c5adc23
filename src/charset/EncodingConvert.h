#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Converts runs of bytes between code pages, appending to a DataBuffer (never
// clearing it). Unicode forms are computed, ISO-2022-JP/KR are built on 932
// and 949, every other code page goes through its mapping tables; two
// non-Unicode code pages meet in UTF-16.
//
// Results: true when the text fits the target. Characters that cannot be
// written are dropped, never replaced, and make the result false. A code page
// that the catalogue names but that cannot be converted passes the bytes
// through unchanged with false; an unknown one gives nothing and false.
// Equal code pages always copy the bytes as they are (a byte-order mark too).
class EncodingConvert {
public:
    EncodingConvert() = default;
    virtual ~EncodingConvert() = default;

    bool convert(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out);
    // Names as charsetToCodePage reads them; an unknown name gives false and nothing.
    bool convertByName(const char* fromCharset, const char* toCharset, const void* bytes, uint32_t n, DataBuffer& out);
    // Writes the target's byte-order mark first (65001, 1200, 1201; none for others).
    bool convertWithBom(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out);
    // From or to the process's active ANSI code page.
    bool convertFromAnsi(int toCp, const void* bytes, uint32_t n, DataBuffer& out);
    bool convertToAnsi(int fromCp, const void* bytes, uint32_t n, DataBuffer& out);

    // Whether text in cp can be converted at all.
    static bool canConvert(int cp);

    // The same conversion the plain way: every intermediate text made whole
    // and every step a simple loop. The fast paths must give exactly its
    // bytes and result; tests compare the two. It lives with the tests
    // (tests/charset/ReferenceConvert.cpp), not in the library.
    bool convertReference(int fromCp, int toCp, const void* bytes, uint32_t n, DataBuffer& out);

    // The step being (or last) run, for diagnostics.
    int stepFromCodePage() const { return m_stepFrom; }
    int stepToCodePage() const { return m_stepTo; }
    bool inSecondStep() const { return m_secondStep; }

private:
    bool run(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool general(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool oneStep(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool twoSteps(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    // ISO-2022-JP/KR read into their pivot (932/949) a piece at a time, each
    // piece converted on to toCp at once; and the other way round.
    bool fromSevenBit(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool toSevenBit(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);

    bool referenceRun(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool referenceGeneral(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);
    bool referenceStep(int fromCp, int toCp, const unsigned char* p, uint32_t n, DataBuffer& out);

    int m_stepFrom = 0;
    int m_stepTo = 0;
    bool m_secondStep = false;
};

}  // namespace hanamail
