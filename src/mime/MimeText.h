#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace hanamail {

class StringBuffer;

// Small text helpers the MIME readers and writers share.
namespace mimetext {

// Space, tab, CR or LF.
bool isBlank(char c);
// s without the blanks at either end (a view into s).
std::string_view trimmed(std::string_view s);
// s with ASCII capitals made small.
std::string lowered(std::string_view s);

// Whether s starts with prefix, ASCII case ignored (false when either is null).
bool beginsWithNoCase(const char* s, const char* prefix);
bool beginsWithNoCase(const StringBuffer& s, const char* prefix);
// Whether any of the n bytes is above 0x7F.
bool hasHighBytes(const unsigned char* bytes, uint32_t n);

// '"' value '"' with '"' and '\' of the value backslash-escaped.
void appendQuoted(StringBuffer& out, const char* value);
// One byte of a Q word's text in the form that is safe inside a phrase
// (RFC 2047 section 5 (3)): letters, digits and "!*+-/=_" as they are,
// anything else as "=XX".
void appendPhraseSafeQ(std::string& out, unsigned char c);

}  // namespace mimetext

}  // namespace hanamail
