#pragma once
#include "foundation/ClsBase.h"

class XString;

// Whole text files in a named charset, for the ReadFile and WriteFile members.
class ClsFileSys : public ClsBase {
public:
    // The file's text, read in the charset (the ANSI code page for an unknown
    // or empty name); out is empty on failure. Logged as "ReadTextFile".
    bool ReadTextFile(const XString& fileName, const XString& charset, XString& outText);
    // The text converted into the charset (the ANSI code page when it has no
    // code page), written without a byte-order mark. Logs nothing.
    bool WriteTextFile(const XString& fileName, const XString& charset, const XString& text);
};
