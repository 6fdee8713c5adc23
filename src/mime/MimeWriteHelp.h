#pragma once
#include <cstdint>

class StringBuffer;

// Pieces of MIME writing that both entity classes share: boundaries,
// transfer encodings by code page, quoted parameter values and the transfer
// coding of a body.
class MimeWriteHelp {
public:
    MimeWriteHelp() = delete;

    // Clears out and writes "----=_NextPart_xxx_xxxx_xxxxxxxx.xxxxxxxx" made
    // from a fresh UUID; the caller appends the kind ("_.MIX", "_.ALT", "_.REL").
    static void NewBoundary(StringBuffer& out);

    // "7bit" for us-ascii, "base64" for the code pages whose text is mostly
    // non-ASCII, "quoted-printable" for everything else (0 included).
    static const char* TransferEncodingForCodePage(int cp);
    static bool isBase64CodePage(int cp);

    // '"' value '"' with '"' and '\' of the value backslash-escaped.
    static void appendQuoted(StringBuffer& out, const char* value);

    // Appends the bytes in the named transfer encoding (case ignored):
    // base64 in lines of 72, quoted-printable, anything else unchanged.
    static void appendEncoded(const StringBuffer& transferEncoding, const unsigned char* bytes, uint32_t n,
                              StringBuffer& out);

    static bool beginsWithNoCase(const StringBuffer& s, const char* prefix);
    static bool beginsWithNoCase(const char* s, const char* prefix);
    static bool hasHighBytes(const unsigned char* bytes, uint32_t n);

    // The line before the first boundary of a multipart body, with the empty line after it.
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
};
