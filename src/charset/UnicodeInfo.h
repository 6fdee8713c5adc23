#pragma once
#include <cstdint>

#include "platform/Automation.h"

namespace hanamail {

class Charset;

// Picks the charset an email text is written in, from the scripts its
// UTF-16 units belong to.
class UnicodeInfo {
public:
    // Counts of units per class; a unit is counted in one class at most.
    struct Counts {
        uint32_t ascii = 0, latin1 = 0, latinExt = 0, greek = 0, cyrillic = 0, hebrew = 0, arabic = 0, thai = 0,
                 hangul = 0, han = 0, kana = 0, other = 0;
    };
    static void countUnits(const OLECHAR* units, uint32_t n, Counts& counts);
    // The code page the counts call for: 0 for none (empty or ASCII only).
    static int codePageFor(const Counts& counts);
    // codePageFor the text, replaced by UTF-8 when the text does not convert
    // into it without loss. 0 for none.
    static int chooseCodePage(const OLECHAR* units, uint32_t n);
    // The same as a Charset (empty name and code page 0 for none).
    static void chooseCharset(const OLECHAR* units, uint32_t n, Charset& out);
};

}  // namespace hanamail
