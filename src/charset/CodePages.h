#pragma once
// The code pages the code names by number, one name each.

namespace hanamail {

constexpr int kUtf16 = 1200;    // UTF-16LE ("unicode" in the catalogue)
constexpr int kUtf16Be = 1201;  // UTF-16BE ("unicodeFFFE")
constexpr int kUtf7 = 65000;
constexpr int kUtf8 = 65001;
constexpr int kUtf32 = 65005;
constexpr int kUtf32Be = 65006;
constexpr int kUsAscii = 20127;
constexpr int kShiftJis = 932;  // Windows Shift_JIS
constexpr int kGbk = 936;       // GB2312 with the GBK extension
constexpr int kUhc = 949;       // Korean unified Hangul code
constexpr int kBig5 = 950;
constexpr int kIso2022Jp = 50220;
constexpr int kIso2022JpLast = 50222;  // 50221 and 50222: the half-width kana forms
constexpr int kIso2022Kr = 50225;
constexpr int kEucJp = 51932;
constexpr int kEucKr = 51949;
constexpr int kHzGb2312 = 52936;  // 7-bit GB 2312 between ~{ and ~}
constexpr int kGb18030 = 54936;

}  // namespace hanamail
