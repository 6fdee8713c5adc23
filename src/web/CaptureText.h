#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace hanamail {

// Text searches of the page capture: HTML is handled as text, with the case
// of ASCII letters ignored where the markup allows either.
class CaptureText {
public:
    CaptureText() = delete;

    static char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
    static std::string lowered(std::string_view s);
    static size_t findNoCase(std::string_view s, std::string_view needle, size_t from = 0);
    static bool startsWithNoCase(std::string_view s, std::string_view prefix);
    static bool endsWithNoCase(std::string_view s, std::string_view suffix);
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
    // Every occurrence of find (exact) becomes repl; the count replaced.
    static int replaceAll(std::string& s, std::string_view find, std::string_view repl);
    static bool replaceFirst(std::string& s, std::string_view find, std::string_view repl);
    // The end (one past ">") of the tag that starts at from: a ">" inside a
    // value quoted after "=" does not end it. npos when the text ends first.
    static size_t tagEnd(std::string_view s, size_t from);
    // A URL as an HTML attribute may hold it: "&" and the quote escaped.
    static std::string forAttribute(std::string_view url, char quote);
    // "&amp;" and the numeric forms of "&" undone, as a browser reads a URL.
    static std::string decodeAmpersands(std::string_view s);
};

}  // namespace hanamail
