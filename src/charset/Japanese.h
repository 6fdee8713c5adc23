#pragma once
#include <cstdint>

namespace hanamail {

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

    // Piecewise forms, for Shift_JIS made or used a piece at a time. The
    // encoder takes piece after piece (final on the last); when more follows,
    // a last byte that needs the next one (a lead byte, a half-width katakana
    // that may take a sound mark) is left unused: it returns the bytes used,
    // and the caller puts the rest in front of the next piece. The decoder
    // goes on from i while at least two bytes of room are left and returns
    // where it stopped (n once the input is used up or ends early).
    struct EncodeState {
        bool jis = false;
        bool ok = true;
    };
    uint32_t sjisToJisPiece(const unsigned char* bytes, uint32_t n, bool final, EncodeState& state,
                            DataBuffer& out) const;
    uint32_t jisToSjisStep(const unsigned char* bytes, uint32_t i, uint32_t n, unsigned char*& d, uint32_t room,
                           bool& jis) const;

    // The JIS X 0208 row/cell pair of a Shift_JIS pair and back.
    static void sjisPairToJis(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2);
    static void jisPairToSjis(unsigned char j1, unsigned char j2, unsigned char& s1, unsigned char& s2);
};

}  // namespace hanamail
