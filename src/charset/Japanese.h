#pragma once
#include <cstdint>

class DataBuffer;

// Shift_JIS (code page 932) <-> ISO-2022-JP. Only JIS X 0208 (ESC $ B) and
// ASCII (ESC ( B) are written; JIS mode is left before every CR and LF and at
// the end. Half-width katakana are written as their full-width forms.
class Japanese {
public:
    Japanese() = default;
    virtual ~Japanese() = default;

    // Appends ISO-2022-JP. Bytes that have no place in it (user-defined and
    // IBM rows F0-FC, single 80/A0/FD-FF, broken pairs) are dropped; the
    // result is false when anything was dropped.
    bool sjisToJis(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;
    // Appends Shift_JIS. Accepts ESC $ @ and ESC $ B for JIS X 0208 and
    // ESC ( B and ESC ( J for ASCII; other escapes are skipped.
    void jisToSjis(const unsigned char* bytes, uint32_t n, DataBuffer& out) const;

    // The JIS X 0208 row/cell pair of a Shift_JIS pair and back.
    static void sjisPairToJis(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2);
    static void jisPairToSjis(unsigned char j1, unsigned char j2, unsigned char& s1, unsigned char& s2);
};
