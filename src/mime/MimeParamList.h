#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace hanamail {

// The parameters of a Content-Type or Content-Disposition value as readers
// see them: quoted strings unquoted (a ";" or "=" inside quotes does not
// split), and RFC 2231 parameters ("name*=charset'lang'%XX",
// "name*0*=", "name*1=" ...) joined in section order and decoded to UTF-8.
// An extended parameter wins over a plain one of the same name.
class MimeParamList {
public:
    struct Param {
        std::string name;   // as written, without the "*" suffixes
        std::string value;  // UTF-8 for extended parameters, the bytes as given otherwise
    };

    // list: the text after the first ";" of the value.
    static std::vector<Param> parse(std::string_view list);
    // Whether some attribute of the list carries a "*" (an RFC 2231 parameter).
    static bool hasExtended(std::string_view list);
    // Where the media type of a Content-Type value ends, as readers end it: at
    // its first ";" or white space after any leading blanks (so "text/plain
    // charset=x" is a type and a parameter), npos when nothing follows it.
    // Quotes in the type do not count: the parameter list begins after it.
    static size_t mediaTypeEnd(std::string_view value);
    // The whole field value with the parameters written plainly: each one as
    // name="value" with '"' and '\' escaped. headEnd is the position of the
    // character that ends the head (the first ";", or mediaTypeEnd() of a
    // Content-Type) or npos; the head is kept, trimmed.
    static std::string rewritePlain(std::string_view value, size_t headEnd);

    // The UTF-8 text of bytes in the named charset: unknown or empty names
    // leave the bytes as they are.
    static std::string toUtf8(std::string_view charset, const std::string& bytes);
};

}  // namespace hanamail
