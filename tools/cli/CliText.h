#pragma once
#include <string>
#include <string_view>

namespace hanamail {

class StringBuffer;

// Text the tool echoes to the terminal: input shown with its control bytes as
// escapes, so that a CR, LF or ESC of an argument or a file name cannot start
// a line of its own or drive the terminal.
namespace cli {

// s with CR, LF, TAB as \r \n \t (TAB kept as it is when asked) and other
// control bytes as \xNN.
std::string escapeControls(std::string_view s, bool keepTabs = false);

// An activity log's text on standard error: its own CR LF line ends stay,
// any other control byte in it is escaped.
void writeLogText(const StringBuffer& text);

}  // namespace cli

}  // namespace hanamail
