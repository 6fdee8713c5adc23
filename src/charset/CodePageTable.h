#pragma once
#include <cstdint>

class DataBuffer;

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

    // Appends the UTF-16LE units of bytes; a byte without mapping is dropped and
    // makes the result false.
    bool decodeToUtf16(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    // Appends the bytes of UTF-16LE text (a last odd byte is ignored; one byte
    // alone gives false); a unit without mapping is dropped and makes it false.
    bool encodeFromUtf16(const unsigned char* utf16le, uint32_t n, DataBuffer& out) const;

    CodePageTable(const CodePageTable&) = delete;
    CodePageTable& operator=(const CodePageTable&) = delete;

private:
    CodePageTable() = default;
    friend struct CodePageTableBuilder;

    bool decodeSingle(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    bool decodeMulti(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;

    int m_codePage = 0;
    bool m_multiByte = false;
    bool m_ascii = false;                  // bytes and units below 0x80 map to themselves
    uint8_t m_row[256] = {};               // lead byte -> its row in m_decode, 0 = not a lead byte
    const uint16_t* m_decode = nullptr;    // rows of 256 units; row 0 = single bytes; 0 = no mapping
    // unit -> its bytes in output order (low 16 bits) | their count << 16; count 0 = no mapping
    const uint32_t* m_encode = nullptr;
};
