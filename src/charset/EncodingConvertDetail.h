#pragma once
#include "charset/CodePages.h"

// What the conversion engine and its plain reference form share.

namespace hanamail {

namespace convertdetail {

inline bool isIso2022Jp(int cp)
{
    return cp >= kIso2022Jp && cp <= kIso2022JpLast;
}

// The Chinese code pages computed on their own, not through a table.
inline bool isGbComputed(int cp)
{
    return cp == kGb18030 || cp == kHzGb2312;
}

// Unknown: no such code page. NameOnly: a charset name exists but the text
// cannot be converted. Converted: computed or table-driven.
enum class Support { Unknown, NameOnly, Converted };
Support support(int cp);

}  // namespace convertdetail

}  // namespace hanamail
