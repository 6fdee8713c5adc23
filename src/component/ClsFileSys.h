#pragma once
#include <cstdint>
#include "foundation/Api.h"

#include "foundation/ClsBase.h"

namespace hanamail {

class DataBuffer;
class XString;

// Whole text files in a named charset, for the ReadFile and WriteFile members.
class ClsFileSys : public ClsBase {
public:
    // Where text that had to be UTF-8 is not.
    struct Utf8Problem {
        bool found = false;
        uint32_t offset = 0;     // of the first ill-formed sequence
        unsigned char byte = 0;  // its first byte
    };

    // The file's text, read in the charset (the ANSI code page for an unknown
    // or empty name); a byte-order mark (UTF-8, UTF-16LE, UTF-16BE) decides
    // over the name. Text read as UTF-8 has each ill-formed sequence replaced
    // by U+FFFD, with a line in the log. out is empty on failure. Logged as
    // "ReadTextFile".
    HANAMAIL_API bool ReadTextFile(const XString& fileName, const XString& charset, XString& outText);
    // The same for text that must be UTF-8 (unless a mark says otherwise):
    // ill-formed UTF-8 gives false, with problem saying where.
    HANAMAIL_API bool ReadUtf8TextFile(const XString& fileName, XString& outText, Utf8Problem& problem);
    // The text of bytes read elsewhere (standard input), decided as a file's
    // would be; with a problem given, ill-formed UTF-8 gives false instead of
    // being repaired. Logged as "TextFromBytes".
    HANAMAIL_API bool TextFromBytes(const DataBuffer& bytes, const XString& charset, XString& outText,
                                    Utf8Problem* problem);
    // The text converted into the charset (the ANSI code page when it has no
    // code page), written without a byte-order mark. Logs nothing.
    HANAMAIL_API bool WriteTextFile(const XString& fileName, const XString& charset, const XString& text);

private:
    bool readFile(const XString& fileName, const char* charset, XString& outText, Utf8Problem* problem);
    bool decode(const DataBuffer& bytes, const char* charset, XString& outText, Utf8Problem* problem);
};

}  // namespace hanamail
