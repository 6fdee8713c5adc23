#pragma once
#include <string>
#include <string_view>

namespace hanamail {

// Small text helpers the MIME readers and writers share.
namespace mimetext {

// Space, tab, CR or LF.
bool isBlank(char c);
// s without the blanks at either end (a view into s).
std::string_view trimmed(std::string_view s);
// s with ASCII capitals made small.
std::string lowered(std::string_view s);

}  // namespace mimetext

}  // namespace hanamail
