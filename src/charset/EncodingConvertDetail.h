#pragma once

// What the conversion engine and its plain reference form share.

namespace hanamail {

namespace convertdetail {

constexpr int kUtf16 = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kUtf7 = 65000;
constexpr int kUtf8 = 65001;
constexpr int kUtf32 = 65005;
constexpr int kUtf32Be = 65006;
constexpr int kShiftJis = 932;
constexpr int kUhc = 949;
constexpr int kIso2022Kr = 50225;

inline bool isIso2022Jp(int cp)
{
    return cp >= 50220 && cp <= 50222;
}

// Unknown: no such code page. NameOnly: a charset name exists but the text
// cannot be converted. Converted: computed or table-driven.
enum class Support { Unknown, NameOnly, Converted };
Support support(int cp);

}  // namespace convertdetail

}  // namespace hanamail
