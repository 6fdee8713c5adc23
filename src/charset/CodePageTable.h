#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

namespace utf8out {
struct Writer;
}

// Mapping tables of one table-driven code page (every converted code page
// except the Unicode forms and the ISO-2022 encodings). Tables are unpacked
// from compressed data compiled into the program, on first use, once per
// process, and only for code pages that are used; they are then read-only.
class CodePageTable {
public:
    // The table of cp, or null when cp is not table-driven.
    static const CodePageTable* forCodePage(int cp);
    static bool isTableCodePage(int cp);

    int codePage() const { return m_codePage; }
    bool isMultiByte() const { return m_multiByte; }
    // The unit of the two-byte code lead trail, or 0 when it has none.
    uint16_t decodePair(uint32_t lead, uint32_t trail) const
    {
        const uint32_t row = m_multiByte && lead < 256 && trail < 256 ? m_row[lead] : 0;
        return row != 0 ? m_decode[row * 256 + trail] : 0;
    }

    // Appends the UTF-16LE units of bytes; a byte without mapping is dropped and
    // makes the result false.
    bool decodeToUtf16(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    // Appends the bytes of UTF-16LE text (a last odd byte is ignored; one byte
    // alone gives false); a unit without mapping is dropped and makes it false.
    bool encodeFromUtf16(const unsigned char* utf16le, uint32_t n, DataBuffer& out) const;

    // The two steps through UTF-16 in one pass, with the results of the
    // second step: UTF-8 read as Utf16Codec::fromUtf8 reads it and encoded
    // here (false when a unit had no mapping); decoded here and written as
    // UTF-8 (true: losses in the decoding do not count); decoded here and
    // encoded in target (false when a unit had no mapping in target).
    bool encodeFromUtf8(const unsigned char* utf8, uint32_t n, DataBuffer& out) const;
    bool decodeToUtf8(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    bool transcode(const CodePageTable& target, const unsigned char* bytes, uint32_t n, DataBuffer& out) const;

    // Resumable forms for conversions that go on in pieces. Each reads the
    // characters that start at i and before limit (bytes up to n may be looked
    // at, so a character is never split), writes at d (advanced) and returns
    // where it stopped: limit, or a little past it. d needs room for
    // limit - i + kStepSlack units of the output. A unit without mapping
    // clears mapped; bytes without mapping clear decodedAll.
    static constexpr uint32_t kStepSlack = 32;
    uint32_t encodeFromUtf8Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, unsigned char*& d,
                                bool& mapped) const;
    uint32_t decodeToUtf16Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, unsigned char*& d,
                               bool& decodedAll) const;
    uint32_t decodeToUtf8Step(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, utf8out::Writer& w) const;
    uint32_t transcodeStep(const CodePageTable& target, const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n,
                           unsigned char*& d, bool& mapped) const;
    // Whether the byte at the end of a piece may still pair with the next
    // piece's first byte (then the piece must stop before it).
    bool mayPairWithNext(unsigned char b) const { return m_multiByte && !(b < 0x80 && m_ascii) && m_row[b] != 0; }

    // The plain one-byte-at-a-time decoding loop, the measure the fast paths
    // are checked against.
    bool decodeToUtf16Plain(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;

    CodePageTable(const CodePageTable&) = delete;
    CodePageTable& operator=(const CodePageTable&) = delete;

private:
    CodePageTable() = default;
    friend struct CodePageTableBuilder;

    template <typename Sink>
    uint32_t decodeScan(const unsigned char* s, uint32_t i, uint32_t limit, uint32_t n, Sink& sink, bool& ok) const;

    int m_codePage = 0;
    bool m_multiByte = false;
    bool m_ascii = false;                // bytes and units below 0x80 map to themselves
    bool m_asciiIn = false;              // every byte below 0x80 decodes to itself (found in the tables)
    bool m_asciiOut = false;             // every unit below 0x80 encodes to itself (found in the tables)
    uint8_t m_row[256] = {};             // lead byte -> its row in m_decode, 0 = not a lead byte
    const uint16_t* m_decode = nullptr;  // rows of 256 units; row 0 = single bytes; 0 = no mapping
    // unit -> its bytes in output order (low 16 bits) | their count << 16; count 0 = no mapping
    const uint32_t* m_encode = nullptr;
};

}  // namespace hanamail
