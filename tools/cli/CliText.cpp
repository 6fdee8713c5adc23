#include "tools/cli/CliText.h"

#include <cstdio>

#include "foundation/StringBuffer.h"

namespace hanamail {

namespace cli {

std::string escapeControls(std::string_view s, bool keepTabs)
{
    static const char kHex[] = "0123456789abcdef";
    std::string r;
    r.reserve(s.size());
    for (unsigned char c : s) {
        if (c == '\r') {
            r += "\\r";
        } else if (c == '\n') {
            r += "\\n";
        } else if (c == '\t') {
            r += keepTabs ? "\t" : "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            r += "\\x";
            r += kHex[c >> 4];
            r += kHex[c & 15];
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

void writeLogText(const StringBuffer& text)
{
    std::string_view rest(text.getString(), static_cast<size_t>(text.getSize()));
    std::string out;
    while (!rest.empty()) {
        const size_t eol = rest.find("\r\n");
        // A TAB is kept: log lines indent with it.
        out += escapeControls(rest.substr(0, eol), true);
        if (eol == std::string_view::npos) break;
        out += "\r\n";
        rest.remove_prefix(eol + 2);
    }
    std::fwrite(out.data(), 1, out.size(), stderr);
}

}  // namespace cli

}  // namespace hanamail
